#include "ui/ClientViewerApprovalDialog.h"

#include "ui/ClientIcons.h"
#include "ui/IconLabel.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace doorwarden {

namespace {

constexpr qsizetype kLongestName = 60;

// A viewer's name as the question shows it: it comes from the network, so on one line and short.
QString shownName(const QString& name)
{
    QString shown;
    for (const QChar c : name) {
        shown += c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
                         c.category() == QChar::Separator_Paragraph
                     ? QChar(u' ')
                     : c;
    }
    shown = shown.simplified();
    if (shown.size() <= kLongestName) {
        return shown;
    }
    qsizetype cut = kLongestName - 1;
    if (shown.at(cut - 1).isHighSurrogate()) {
        --cut; // never half a character
    }
    return shown.left(cut) + QChar(u'…');
}

} // namespace

ClientViewerApprovalDialog::ClientViewerApprovalDialog(ClientModel& model, const ClientLocalization& texts,
                                                       CustomerInputGuard& guard, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , model_(model)
    , texts_(texts)
    , title_(new QLabel(this))
    , message_(new QLabel(this))
    , deny_(new QPushButton(this))
    , allow_(new QPushButton(this))
{
    setWindowTitle(QStringLiteral("Doorwarden Remote Support"));
    setFixedWidth(420);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(24, 22, 24, 18);
    row->setSpacing(16);
    row->addWidget(iconLabel(clientIcons::shieldCheck(40, clientIcons::kAccent, devicePixelRatioF()), this), 0,
                   Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    QFont titleFont = title_->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    titleFont.setBold(true);
    title_->setFont(titleFont);
    title_->setWordWrap(true);
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText); // the name comes from the network
    column->addWidget(title_);
    column->addWidget(message_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(deny_);
    buttons->addWidget(allow_);
    allow_->setDefault(true);
    column->addSpacing(6);
    column->addLayout(buttons);
    row->addLayout(column, 1);

    guard.guard(*allow_);
    guard.guard(*deny_);
    connect(allow_, &QPushButton::clicked, &model_, &ClientModel::approveViewer);
    connect(deny_, &QPushButton::clicked, &model_, &ClientModel::denyViewer);
    connect(&model_, &ClientModel::pendingViewerApprovalsChanged, this, &ClientViewerApprovalDialog::refresh);
    connect(&model_, &ClientModel::viewOnlyChanged, this, &ClientViewerApprovalDialog::refresh);
    connect(&model_, &ClientModel::languageChanged, this, &ClientViewerApprovalDialog::refresh);
    refresh();
}

void ClientViewerApprovalDialog::refresh()
{
    const QStringList& waiting = model_.pendingViewerApprovals();
    if (waiting.isEmpty()) {
        hide();
        return;
    }
    const ClientLanguage language = model_.language();
    title_->setText(texts_.localizedText("approval.title", language));
    message_->setText(texts_.localizedFormat(model_.viewOnly() ? "approval.message_view_only" : "approval.message",
                                             language, shownName(waiting.first())));
    deny_->setText(texts_.localizedText("approval.deny", language));
    allow_->setText(texts_.localizedText("action.allow", language));
    adjustSize();
    if (!isVisible()) {
        show();
    }
    raise();
    activateWindow();
}

void ClientViewerApprovalDialog::closeEvent(QCloseEvent* event)
{
    // Nobody joins without a yes: closing the question answers no.
    if (!model_.pendingViewerApprovals().isEmpty()) {
        model_.denyViewer();
    }
    event->accept();
}

} // namespace doorwarden
