#include "ui/ClientMainWindow.h"

#include "ui/ClientIcons.h"

#include <QCloseEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace doorwarden {

namespace {

using Kind = ClientConnectionState::Kind;

constexpr int kWidth = 480;

} // namespace

ClientMainWindow::ClientMainWindow(ClientModel& model, const ClientLocalization& texts, Options options)
    : model_(model)
    , inputGuard_(new CustomerInputGuard(options.inputSources, this))
    , content_(new ContentView(model, texts, {.openLoginItemSettings = options.openLoginItemSettings}, this))
    , closeCoordinator_(new ClientWindowCloseCoordinator(*this, model, texts, *inputGuard_, options.terminate))
    , indicator_(std::make_unique<ClientSupportIndicatorController>(ClientSupportIndicatorController::Options{
          .view = {.scheduler = options.scheduler, .clock = options.clock, .texts = texts, .inputGuard = *inputGuard_},
          .showOnAllWorkspaces = options.showOnAllWorkspaces,
      }))
    , approval_(std::make_unique<ClientViewerApprovalDialog>(model, texts, *inputGuard_))
    , previous_(model.connectionState().kind())
{
    setWindowTitle(QStringLiteral("Doorwarden Remote Support"));
    setWindowIcon(clientIcons::applicationIcon());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    content_->codeView().setFocus(); // the customer types the code first
    connect(content_, &ContentView::layoutChanged, this, &ClientMainWindow::fitHeight);
    connect(&model_, &ClientModel::connectionStateChanged, this, &ClientMainWindow::onConnectionStateChanged);
    fitHeight();
    if (previous_ == Kind::supporting) {
        // A session resumed at start-up: the bar, not the window.
        QTimer::singleShot(0, this, [this] { onConnectionStateChanged(); });
    }
}

ClientMainWindow::~ClientMainWindow()
{
    indicator_->hide(false);
}

void ClientMainWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    approval_->hide();
    emit closed();
}

void ClientMainWindow::fitHeight()
{
    setFixedSize(kWidth, content_->preferredHeight());
}

void ClientMainWindow::bringForward()
{
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void ClientMainWindow::onConnectionStateChanged()
{
    const Kind previous = previous_;
    const Kind kind = model_.connectionState().kind();
    previous_ = kind;
    if (kind == Kind::supporting) {
        if (!indicator_->panel()) {
            indicator_->show(model_, this);
        }
    } else if (indicator_->panel()) {
        indicator_->hide(kind != Kind::ending);
    }
    if ((previous == Kind::viewerEnding && kind != Kind::viewerEnding) || (previous == Kind::ending && kind == Kind::idle)) {
        closeCoordinator_->reset();
        QTimer::singleShot(0, this, &ClientMainWindow::bringForward);
    }
}

} // namespace doorwarden
