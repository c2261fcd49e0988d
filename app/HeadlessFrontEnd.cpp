#include "app/HeadlessFrontEnd.h"

#include <unistd.h>

namespace doorwarden {

namespace {

// A command line longer than this is no command: it is dropped, not gathered without end.
constexpr qsizetype kMaximumCommandBytes = 4096;

QString displayName()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    return display.isEmpty() ? QStringLiteral("(DISPLAY is not set)") : QLatin1Char('\'') + display + QLatin1Char('\'');
}

} // namespace

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
    connect(&model_, &ClientModel::verifiedViewersChanged, this, &HeadlessFrontEnd::onVerifiedViewersChanged);
    connect(&model_, &ClientModel::viewerApprovalRequested, this, &HeadlessFrontEnd::onViewerApprovalRequested);
    const CaptureService& capture = model_.services().capture();
    connect(&capture, &CaptureService::isSystemAudioActiveChanged, this, [this, &capture] {
        print(QStringLiteral("system_audio ") + (capture.isSystemAudioActive() ? QStringLiteral("on") : QStringLiteral("off")));
    });

    input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(input_.get(), &QSocketNotifier::activated, this, &HeadlessFrontEnd::readCommands);
}

HeadlessFrontEnd::~HeadlessFrontEnd() = default;

QString HeadlessFrontEnd::escaped(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        if (unit == u'\\') {
            result += QStringLiteral("\\\\");
        } else if (unit == u'\n') {
            result += QStringLiteral("\\n");
        } else if (unit == u'\r') {
            result += QStringLiteral("\\r");
        } else if (unit == u'\t') {
            result += QStringLiteral("\\t");
        } else if (unit < 0x20 || unit == 0x7f || (unit >= 0x80 && unit < 0xa0)) {
            result += QStringLiteral("\\x%1").arg(unit, 2, 16, QLatin1Char('0'));
        } else if (unit == 0x2028 || unit == 0x2029 || unit == 0x85) {
            // Line and paragraph separators end a line for some readers.
            result += QStringLiteral("\\u%1").arg(unit, 4, 16, QLatin1Char('0'));
        } else {
            result += character;
        }
    }
    return result;
}

void HeadlessFrontEnd::start(const std::optional<QString>& code, bool viewOnly)
{
    code_ = code;
    viewOnly_ = viewOnly;
    print(QStringLiteral("state ") + model_.connectionState().name());
    print(QStringLiteral("status ") + model_.statusMessage());
    model_.setViewOnly(viewOnly);
    if (model_.isStartupComplete()) {
        begin();
    } else {
        connect(&model_, &ClientModel::startupCompleted, this, &HeadlessFrontEnd::begin, Qt::SingleShotConnection);
    }
}

void HeadlessFrontEnd::begin()
{
    if (model_.recoveringSession()) {
        // The stored session is still alive at the relay; it goes first.
        if (code_) {
            err_ << "doorwarden: resuming the stored session " << model_.normalizedCode() << "; --code is ignored\n";
            err_.flush();
        }
        sessionStarted_ = true;
        return;
    }
    if (!code_) {
        refuse(QStringLiteral("no stored session to resume; give the support code with --code"));
        return;
    }
    if (model_.permissionsSatisfied()) {
        connectWithCode();
        return;
    }
    // A display that is still starting (or busy) may answer the next check.
    connect(&model_, &ClientModel::permissionPollingFinished, this, &HeadlessFrontEnd::connectWithCode,
            Qt::SingleShotConnection);
    model_.startPermissionPolling();
}

void HeadlessFrontEnd::connectWithCode()
{
    model_.setEnteredCode(*code_);
    switch (model_.performPrimaryAction()) {
    case ClientModel::PrimaryActionResult::started:
        sessionStarted_ = true;
        return;
    case ClientModel::PrimaryActionResult::permissionsMissing:
        refuse(QStringLiteral("the X display %1 cannot be captured%2 (is it a running X server with the DAMAGE, "
                              "XFIXES%3 extensions?)")
                   .arg(displayName(), viewOnly_ ? QString() : QStringLiteral(" or controlled"),
                        viewOnly_ ? QString() : QStringLiteral(" and XTEST")));
        return;
    case ClientModel::PrimaryActionResult::invalidCode:
        refuse(QStringLiteral("the support code must be six digits, not all zero: '%1'").arg(*code_));
        return;
    case ClientModel::PrimaryActionResult::endRequested:
    case ClientModel::PrimaryActionResult::busy:
        refuse(QStringLiteral("a session is already running"));
        return;
    }
}

void HeadlessFrontEnd::refuse(const QString& reason)
{
    err_ << "doorwarden: " << escaped(reason) << '\n';
    finish(2);
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
    out_ << escaped(line) << '\n';
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

void HeadlessFrontEnd::onVerifiedViewersChanged()
{
    const auto& viewers = model_.verifiedViewers();
    if (viewers.size() < printedViewers_) {
        printedViewers_ = 0; // a new encryption session: every viewer is shown again
    }
    for (; printedViewers_ < viewers.size(); ++printedViewers_) {
        const ClientVerifiedViewer& viewer = viewers[printedViewers_];
        print(QStringLiteral("verification_code %1 %2")
                  .arg(viewer.verificationCode, viewer.name.isEmpty() ? QStringLiteral("viewer") : viewer.name));
    }
}

void HeadlessFrontEnd::onViewerApprovalRequested(const QString& name)
{
    print(QStringLiteral("viewer_request ") + (name.isEmpty() ? QStringLiteral("viewer") : name));
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
    if (pendingInput_.size() > kMaximumCommandBytes) {
        pendingInput_.clear();
    }
}

void HeadlessFrontEnd::runCommand(const QString& command)
{
    if (command == QLatin1String("end")) {
        model_.performPrimaryAction();
    } else if (command == QLatin1String("reconnect")) {
        model_.cancelViewerEndCountdown();
    } else if (command == QLatin1String("approve")) {
        model_.approveViewer();
    } else if (command == QLatin1String("deny")) {
        model_.denyViewer();
    } else if (command == QLatin1String("quit")) {
        terminate();
    } else if (!command.isEmpty()) {
        err_ << "doorwarden: unknown command '" << escaped(command) << "' (end, reconnect, approve, deny or quit)\n";
        err_.flush();
    }
}

} // namespace doorwarden
