#pragma once

#include "support/EventLoopWait.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <optional>

namespace doorwarden {

// A program whose standard output is read line by line.
class Program {
public:
    // The program's standard error goes to this process's, unless discarded before the start.
    void start(const QString& path, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        process_.setProcessEnvironment(environment);
        process_.setProgram(path);
        process_.setArguments(arguments);
        if (discardErrors_) {
            process_.setStandardErrorFile(QProcess::nullDevice());
        } else {
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine()) {
                lines_ << QString::fromUtf8(process_.readLine()).trimmed();
            }
        });
        process_.start();
    }

    ~Program()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // The first line from line `from` on that matches `pattern` (waiting for it), or an empty
    // string when the program ended or the wait timed out first.
    QString waitForLine(const QString& pattern, qsizetype from = 0)
    {
        const qsizetype index = waitForLineIndex(pattern, from);
        return index < 0 ? QString() : lines_[index];
    }

    // The index of that line, or -1.
    qsizetype waitForLineIndex(const QString& pattern, qsizetype from = 0)
    {
        const QRegularExpression expression(pattern);
        qsizetype found = -1;
        spinUntil([&] {
            for (qsizetype index = std::max<qsizetype>(from, 0); index < lines_.size(); ++index) {
                if (expression.match(lines_[index]).hasMatch()) {
                    found = index;
                    return true;
                }
            }
            return process_.state() == QProcess::NotRunning;
        });
        return found;
    }

    // The exit status once the program ended (waiting for it); absent after a crash or timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        spinUntil([&] { return process_.state() == QProcess::NotRunning; }, timeout);
        if (process_.state() != QProcess::NotRunning || process_.exitStatus() != QProcess::NormalExit) {
            return std::nullopt;
        }
        return process_.exitCode();
    }

    void discardErrors() { discardErrors_ = true; }
    qint64 processId() const { return process_.processId(); }
    void terminate() { process_.terminate(); } // SIGTERM
    void kill() { process_.kill(); }           // SIGKILL
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    qsizetype countLines(const QString& pattern) const { return lines_.filter(QRegularExpression(pattern)).size(); }
    void write(const QString& line) { process_.write((line + "\n").toUtf8()); }
    const QStringList& lines() const { return lines_; }

private:
    QProcess process_;
    QStringList lines_;
    bool discardErrors_ = false;
};

} // namespace doorwarden
