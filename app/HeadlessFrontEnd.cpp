#include "app/HeadlessFrontEnd.h"

#include <unistd.h>

namespace doorwarden {

HeadlessFrontEnd::HeadlessFrontEnd(ClientModel& model, QTextStream& out, QTextStream& err)
    : model_(model)
    , out_(out)
    , err_(err)
{
    connect(&model_, &ClientModel::connectionStateChanged, this, &HeadlessFrontEnd::onStateChanged);
    connect(&model_, &ClientModel::statusMessageChanged, this,
            [this] { print(QStringLiteral("status ") + model_.statusMessage()); });
    connect(&model_, &ClientModel::supportCodeChanged, this, [this] {
        if (!model_.supportCode().isEmpty()) {
            print(QStringLiteral("support_code ") + model_.supportCode());
        }
    });
    connect(&model_, &ClientModel::securityVerificationCodeChanged, this, [this] {
        if (!model_.securityVerificationCode().isEmpty()) {
            print(QStringLiteral("verification_code ") + model_.securityVerificationCode());
        }
    });

    input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(input_.get(), &QSocketNotifier::activated, this, &HeadlessFrontEnd::readCommands);
}

HeadlessFrontEnd::~HeadlessFrontEnd() = default;

void HeadlessFrontEnd::start(const std::optional<QString>& code, bool viewOnly)
{
    print(QStringLiteral("state ") + model_.connectionState().name());
    print(QStringLiteral("status ") + model_.statusMessage());
    model_.setViewOnly(viewOnly);
    if (model_.recoveringSession()) {
        // The stored session is still alive at the relay; it goes first.
        if (code) {
            err_ << "doorwarden: resuming the stored session " << model_.normalizedCode() << "; --code is ignored\n";
            err_.flush();
        }
        sessionStarted_ = true;
        return;
    }
    if (!code) {
        err_ << "doorwarden: no stored session to resume; give the support code with --code\n";
        finish(2);
        return;
    }
    model_.setEnteredCode(*code);
    model_.performPrimaryAction();
    if (model_.connectionState().kind() != ClientConnectionState::Kind::connecting) {
        if (!model_.permissionsSatisfied()) {
            err_ << "doorwarden: the X display cannot be captured" << (viewOnly ? "" : " or controlled")
                 << " (is DISPLAY set to a running X server?)\n";
        } else {
            err_ << "doorwarden: the support code must be six digits, not all zero: '" << *code << "'\n";
        }
        finish(2);
        return;
    }
    sessionStarted_ = true;
}

void HeadlessFrontEnd::terminate()
{
    model_.endSupportForTermination([this] { finish(0); });
}

void HeadlessFrontEnd::applicationTerminated()
{
    finish(0);
}

void HeadlessFrontEnd::print(const QString& line)
{
    out_ << line << '\n';
    out_.flush();
}

void HeadlessFrontEnd::finish(int status)
{
    if (finished_) {
        return;
    }
    finished_ = true;
    err_.flush();
    emit finished(status);
}

void HeadlessFrontEnd::onStateChanged()
{
    const ClientConnectionState& state = model_.connectionState();
    print(QStringLiteral("state ") + state.name());
    if (!sessionStarted_) {
        return;
    }
    // Without a user at the screen nothing can follow a failure or the end of a session.
    if (state.kind() == ClientConnectionState::Kind::failed) {
        finish(1);
    } else if (state.kind() == ClientConnectionState::Kind::idle || state.kind() == ClientConnectionState::Kind::ready) {
        finish(0);
    }
}

void HeadlessFrontEnd::readCommands()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        input_->setEnabled(false); // end of input: keep running, only signals can stop us now
        return;
    }
    pendingInput_.append(buffer, count);
    qsizetype newline = 0;
    while ((newline = pendingInput_.indexOf('\n')) >= 0) {
        const QString command = QString::fromUtf8(pendingInput_.left(newline)).trimmed();
        pendingInput_.remove(0, newline + 1);
        runCommand(command);
    }
}

void HeadlessFrontEnd::runCommand(const QString& command)
{
    if (command == QLatin1String("end")) {
        model_.performPrimaryAction();
    } else if (command == QLatin1String("reconnect")) {
        model_.cancelViewerEndCountdown();
    } else if (command == QLatin1String("quit")) {
        terminate();
    } else if (!command.isEmpty()) {
        err_ << "doorwarden: unknown command '" << command << "' (end, reconnect or quit)\n";
        err_.flush();
    }
}

} // namespace doorwarden
