#pragma once

#include "support/EventLoopWait.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace doorwarden {

// A private PulseAudio daemon for one test: its own runtime folder and socket, a null sink
// "speakers" as the default, no exit when idle. `server()` is empty when it did not start. The
// socket is where a desktop session's is, "pulse/native" in the runtime folder, so that a program
// given that folder as XDG_RUNTIME_DIR finds the server as it would on a desktop. Sound
// comes from PulseAudio's own module-sine (playSine()): short clips played with pacat
// into a null sink were heard as silence now and then.
class PulseAudioServer {
public:
    PulseAudioServer()
    {
        const QString config = folder_.filePath(QStringLiteral("default.pa"));
        const QString socket = folder_.filePath(QStringLiteral("pulse/native"));
        QDir(folder_.path()).mkpath(QStringLiteral("pulse"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return;
        }
        file.write(QStringLiteral("load-module module-native-protocol-unix socket=%1 auth-anonymous=1\n"
                                  "load-module module-null-sink sink_name=speakers\n"
                                  "set-default-sink speakers\n")
                       .arg(socket)
                       .toUtf8());
        file.close();
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder_.path());
        environment.insert(QStringLiteral("HOME"), folder_.path());
        daemon_.setProcessEnvironment(environment);
        daemon_.setStandardOutputFile(QProcess::nullDevice());
        daemon_.setStandardErrorFile(QProcess::nullDevice());
        daemon_.start(QStringLiteral("pulseaudio"),
                      {QStringLiteral("-n"), QStringLiteral("-F"), config, QStringLiteral("--daemonize=no"),
                       QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                       QStringLiteral("--disable-shm=yes")});
        address_ = QStringLiteral("unix:") + socket;
        if (spinUntil([&] { return daemon_.state() == QProcess::NotRunning || control({QStringLiteral("info")}); })) {
            if (daemon_.state() == QProcess::Running) {
                server_ = address_;
            }
        }
    }

    ~PulseAudioServer()
    {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }

    const QString& server() const { return server_; }
    // The daemon's XDG_RUNTIME_DIR.
    QString runtimeFolder() const { return folder_.path(); }

    // PulseAudio's own 1 kHz sine plays into `sink` until stopSines(); true when it does.
    bool playSine(const QString& sink = QStringLiteral("speakers")) const
    {
        return control({QStringLiteral("load-module"), QStringLiteral("module-sine"), QStringLiteral("sink=") + sink,
                        QStringLiteral("frequency=1000")});
    }

    // Silence: every sine ends.
    bool stopSines() const { return control({QStringLiteral("unload-module"), QStringLiteral("module-sine")}); }

    // Runs pactl against this server, its output discarded; true when it succeeded.
    bool control(const QStringList& arguments) const { return query(arguments).has_value(); }

    // Runs pactl against this server; its output (in English, to be read), or nothing when it
    // failed.
    std::optional<QString> query(const QStringList& arguments) const
    {
        QProcess pactl;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        pactl.setProcessEnvironment(environment);
        pactl.setStandardErrorFile(QProcess::nullDevice());
        pactl.start(QStringLiteral("pactl"),
                    QStringList{QStringLiteral("--server=") + address_} + arguments);
        if (!pactl.waitForFinished(10'000) || pactl.exitStatus() != QProcess::NormalExit || pactl.exitCode() != 0) {
            return std::nullopt;
        }
        return QString::fromUtf8(pactl.readAllStandardOutput());
    }

private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
    QString server_;
};

} // namespace doorwarden
