#include "viewer/ViewerWindow.h"

#include "relay/RelayMessageType.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>

namespace doorwarden {

namespace {

QString stageText(HeadlessViewer::Stage stage)
{
    switch (stage) {
    case HeadlessViewer::Stage::connecting:
        return QStringLiteral("Connecting to the relay…");
    case HeadlessViewer::Stage::waitingForApproval:
        return QStringLiteral("Waiting for the customer to allow this viewer");
    case HeadlessViewer::Stage::keyExchange:
        return QStringLiteral("Allowed; securing the connection…");
    case HeadlessViewer::Stage::encrypted:
        return QStringLiteral("Connected");
    case HeadlessViewer::Stage::ended:
        return QStringLiteral("The session has ended");
    case HeadlessViewer::Stage::closed:
        return QStringLiteral("Disconnected");
    }
    return {};
}

} // namespace

ViewerWindow::ViewerWindow(HeadlessViewer& viewer, QWidget* parent)
    : QWidget(parent)
    , viewer_(viewer)
    , picture_(new ViewerPictureView(this))
    , status_(new QLabel(this))
    , details_(new QLabel(this))
    , endButton_(new QPushButton(QStringLiteral("End session"), this))
{
    setWindowTitle(QStringLiteral("Doorwarden viewer"));
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 6, 10, 6);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    QFont statusFont = status_->font();
    statusFont.setBold(true);
    status_->setFont(statusFont);
    texts->addWidget(status_);
    texts->addWidget(details_);
    bar->addLayout(texts, 1);
    bar->addWidget(endButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(picture_, 1);
    endButton_->setFocusPolicy(Qt::NoFocus); // the keyboard stays on the customer's screen

    connect(endButton_, &QPushButton::clicked, this, &ViewerWindow::endSession);
    connect(&viewer_, &HeadlessViewer::stageChanged, this, &ViewerWindow::onStageChanged);
    connect(&viewer_, &HeadlessViewer::verificationCodeReceived, this, [this](const QString& code) {
        verificationCode_ = code;
        refreshStatus();
    });
    connect(&viewer_, &HeadlessViewer::errorReported, this, [this](const QString& text) {
        lastError_ = text;
        refreshStatus();
    });
    connect(&viewer_, &HeadlessViewer::innerMessageReceived, this, &ViewerWindow::onInnerMessage);
    connect(&viewer_, &HeadlessViewer::pictureDecoded, this, [this](const QImage& picture) {
        picture_->showPicture(picture);
        if (!hasPicture_) {
            hasPicture_ = true;
            onFirstPicture();
        }
    });
    connect(&viewer_, &HeadlessViewer::finished, this, &ViewerWindow::onFinished);
    connect(picture_, &ViewerPictureView::inputEvent, this, [this](const ClientInputPayload& input) {
        RelayMessage message = RelayMessage::of(RelayMessageType::inputEvent);
        message.input = input;
        viewer_.sendWhenEncrypted(message);
    });
    connect(picture_, &ViewerPictureView::pictureRectChanged, this, [this](const QRect& rect) {
        const QPoint origin = picture_->mapToGlobal(rect.topLeft());
        viewer_.printLine(QStringLiteral("window_picture x=%1 y=%2 width=%3 height=%4")
                              .arg(origin.x())
                              .arg(origin.y())
                              .arg(rect.width())
                              .arg(rect.height()));
    });
    refreshStatus();
    picture_->setFocus();
}

void ViewerWindow::onStageChanged(HeadlessViewer::Stage stage)
{
    // A session that ended, from either side, stays "ended" when its connection then closes.
    const bool wasEnded = stage_ == HeadlessViewer::Stage::ended || endRequested_;
    stage_ = stage == HeadlessViewer::Stage::closed && wasEnded ? HeadlessViewer::Stage::ended : stage;
    if (stage == HeadlessViewer::Stage::keyExchange) {
        verificationCode_.clear(); // a new key exchange brings a new code
    }
    refreshStatus();
}

void ViewerWindow::onInnerMessage(const RelayMessage& message)
{
    if (message.is(RelayMessageType::cursorShape) && message.cursorShape) {
        picture_->setCursorShape(*message.cursorShape);
    } else if (message.is(RelayMessageType::cursorPosition) && message.cursorPosition) {
        picture_->setCursorPosition(*message.cursorPosition);
    } else if (message.is(RelayMessageType::screenInfo) && message.screenInfo) {
        // The monitor's own size; the stream's may be padded to whole blocks.
        const auto& info = *message.screenInfo;
        const bool hasMonitor = !info.monitors.empty();
        screen_ = QStringLiteral("Screen %1 × %2, %3 at %4 fps")
                      .arg(hasMonitor ? info.monitors.front().sourceWidth : info.width)
                      .arg(hasMonitor ? info.monitors.front().sourceHeight : info.height)
                      .arg(QString::fromStdString(info.codec))
                      .arg(info.fps);
        refreshStatus();
    }
}

// The first picture decides the window's size: the picture at its own size when the screen has
// room for it, else as large as the screen allows.
void ViewerWindow::onFirstPicture()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen || isMaximized() || isFullScreen()) {
        return;
    }
    const QSize chrome = size() - picture_->size();
    const QSize available = screen->availableGeometry().size() - chrome;
    QSize shown = picture_->pictureSize();
    if (shown.width() > available.width() || shown.height() > available.height()) {
        shown.scale(available, Qt::KeepAspectRatio);
    }
    resize(shown + chrome);
}

void ViewerWindow::refreshStatus()
{
    const bool over = stage_ == HeadlessViewer::Stage::ended || stage_ == HeadlessViewer::Stage::closed;
    QString status = endRequested_ && !over ? QStringLiteral("Ending the session…") : stageText(stage_);
    if (!verificationCode_.isEmpty() && !over && !endRequested_) {
        status += QStringLiteral(" · verification code %1: it must match the code on the customer's screen")
                      .arg(verificationCode_);
    }
    status_->setText(status);
    QString details = screen_;
    if (!lastError_.isEmpty()) {
        details += (details.isEmpty() ? QString() : QStringLiteral(" · ")) + QStringLiteral("Error: ") + lastError_;
    }
    details_->setText(details);
    details_->setVisible(!details.isEmpty());
}

void ViewerWindow::endSession()
{
    endButton_->setEnabled(false);
    endRequested_ = true;
    refreshStatus();
    viewer_.handleInputLine(u"end");
}

void ViewerWindow::onFinished(int exitCode)
{
    finished_ = true;
    exitCode_ = exitCode;
    endButton_->setEnabled(false);
    if (stage_ != HeadlessViewer::Stage::ended && stage_ != HeadlessViewer::Stage::closed) {
        onStageChanged(HeadlessViewer::Stage::closed);
    }
    if (closeWhenFinished_) {
        close();
    }
}

void ViewerWindow::closeEvent(QCloseEvent* event)
{
    if (!finished_) {
        // End the session properly first; the window closes when the viewer has finished.
        closeWhenFinished_ = true;
        endSession();
        event->ignore();
        return;
    }
    event->accept();
    emit closed(exitCode_);
}

} // namespace doorwarden
