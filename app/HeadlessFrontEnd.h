#pragma once

#include "core/ClientModel.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTextStream>

#include <memory>
#include <optional>

namespace doorwarden {

// Runs the model without windows, for scripts, tests and the demo. It prints one line per
// change a user would see:
//   state <name>                e.g. "state waitingForViewer", "state failed(relay_disconnected)"
//   status <localised text>
//   support_code <digits>
//   verification_code <code>
// and reads commands from standard input, one a line: "end" (end or cancel the session, as the
// primary button), "reconnect" (stop the close countdown), "quit" (end and exit).
// `finished` reports the exit status: 0 when the session ended or the application would close,
// 1 when the session failed, 2 when it could not start.
class HeadlessFrontEnd : public QObject {
    Q_OBJECT

public:
    HeadlessFrontEnd(ClientModel& model, QTextStream& out, QTextStream& err);
    ~HeadlessFrontEnd() override;

    // Connects with `code`, or, without one, resumes the stored session.
    void start(const std::optional<QString>& code, bool viewOnly);
    // Ends a running session properly, then finishes (SIGINT, SIGTERM, "quit").
    void terminate();
    // What the model's application would do at the end of the close countdown.
    void applicationTerminated();

signals:
    void finished(int exitStatus);

private:
    void print(const QString& line);
    void finish(int status);
    void onStateChanged();
    void readCommands();
    void runCommand(const QString& command);

    ClientModel& model_;
    QTextStream& out_;
    QTextStream& err_;
    std::unique_ptr<QSocketNotifier> input_;
    QByteArray pendingInput_;
    bool sessionStarted_ = false;
    bool finished_ = false;
};

} // namespace doorwarden
