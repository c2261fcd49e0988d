#pragma once

#include "support/EventLoopWait.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace doorwarden {

// A private Xvfb X server for one test: it picks a free display number itself and reports it;
// the server is stopped when this object goes. `display()` is empty when it did not start.
// It runs with -noreset: by default Xvfb resets when its last client leaves, and refuses
// connections while it does, which a desktop's server (never without clients) does not.
class XvfbServer {
public:
    explicit XvfbServer(const QStringList& extraArguments = {}, const QString& screen = QStringLiteral("1280x800x24"))
    {
        process_.setProgram(QStringLiteral("Xvfb"));
        process_.setArguments(QStringList{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                          QStringLiteral("tcp"), QStringLiteral("-noreset"), QStringLiteral("-screen"), QStringLiteral("0"),
                                          screen} +
                              extraArguments);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start();
        spinUntil([this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; });
        const QString number = QString::fromLatin1(process_.readLine()).trimmed();
        if (!number.isEmpty()) {
            display_ = QLatin1Char(':') + number;
        }
    }

    // Terminated, not killed, so that the server removes its lock file and socket.
    ~XvfbServer()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    const QString& display() const { return display_; }

private:
    QProcess process_;
    QString display_;
};

} // namespace doorwarden
