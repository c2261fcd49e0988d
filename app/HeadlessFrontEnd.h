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
//   state <name>                       e.g. "state waitingForViewer", "state failed(relay_disconnected)"
//   status <localised text>
//   support_code <digits>
//   viewer_request <viewer name>       a further viewer asks to join: answer "approve" or "deny"
//   verification_code <code> <viewer name>   one line for each viewer that holds the key
//   system_audio <on|off>              whether a viewer listens to this machine's sound
// Every line is one event: control characters in a text (a peer's name, say) are written as
// escapes ("\n", "\x1b", "\\" for a backslash).
// It reads commands from standard input, one a line: "end" (end or cancel the session, as the
// primary button), "reconnect" (stop the close countdown), "approve" and "deny" (the oldest
// waiting viewer request), "quit" (end and exit).
// `finished` reports the exit status: 0 when the session ended or the application would close,
// 1 when the session failed, 2 when it could not start.
class HeadlessFrontEnd : public QObject {
    Q_OBJECT

public:
    HeadlessFrontEnd(ClientModel& model, QTextStream& out, QTextStream& err);
    ~HeadlessFrontEnd() override;

    // Connects with `code`, or, without one, resumes the stored session; waits first for the
    // model's start-up and, when the display is not usable yet, for the permission checks
    // (about three seconds) before it gives up naming the display.
    void start(const std::optional<QString>& code, bool viewOnly);
    // Ends a running session properly, then finishes (SIGINT, SIGTERM, "quit").
    void terminate();
    // What the model's application would do at the end of the close countdown.
    void applicationTerminated();

    // `text` with control characters (and the backslash) escaped, so that it stays on one line.
    static QString escaped(const QString& text);

signals:
    void finished(int exitStatus);

private:
    void begin();
    void connectWithCode();
    void refuse(const QString& reason);
    void print(const QString& line);
    void finish(int status);
    void onStateChanged();
    void onVerifiedViewersChanged();
    void onViewerApprovalRequested(const QString& name);
    void readCommands();
    void runCommand(const QString& command);

    ClientModel& model_;
    QTextStream& out_;
    QTextStream& err_;
    std::unique_ptr<QSocketNotifier> input_;
    QByteArray pendingInput_;
    std::optional<QString> code_;
    bool viewOnly_ = false;
    qsizetype printedViewers_ = 0;
    bool sessionStarted_ = false;
    bool finished_ = false;
};

} // namespace doorwarden
