#include "ui/ClientSupportIndicatorView.h"

#include "platform/WeakGuard.h"
#include "ui/ClientIcons.h"
#include "ui/IconLabel.h"

#include <QEnterEvent>
#include <QPainter>

#include <algorithm>

namespace doorwarden {

namespace {

using Layout = ClientSupportIndicatorLayout;
using namespace std::chrono_literals;

const QColor kBackground(27, 32, 43);
const QColor kSecondary(190, 198, 214);
const QColor kDanger(220, 70, 76);
const QColor kText(244, 246, 250);
const QColor kShield(80, 200, 130);
const QColor kNeutralFill(62, 70, 87);
const QColor kSwitchOff(84, 93, 112);
const QColor kEdge(255, 255, 255, 30);
constexpr qreal kCornerRadius = 11;

void setTextColour(QWidget& widget, const QColor& colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget.setPalette(palette);
}

QLabel* textLabel(QWidget* parent, const QFont& font, const QColor& colour)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    setTextColour(*label, colour);
    return label;
}

// A filled button of the bar: white text on `fill`, a little lighter under the pointer.
void styleFilled(QPushButton& button, const QColor& fill)
{
    button.setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 7px;"
                                        " padding: 0px 10px; }"
                                        "QPushButton:hover { background: %2; }"
                                        "QPushButton:pressed { background: %3; }")
                             .arg(fill.name(), fill.lighter(112).name(), fill.darker(112).name()));
}

QPushButton* filledButton(QWidget* parent, const QFont& font, const QColor& fill)
{
    auto* button = new QPushButton(parent);
    button->setFont(font);
    button->setFixedHeight(Layout::kButtonHeight);
    button->setFocusPolicy(Qt::NoFocus); // the bar never takes focus
    button->setCursor(Qt::PointingHandCursor);
    styleFilled(*button, fill);
    return button;
}

// The remote-control switch: a track with a knob, on while remote control is allowed, and its
// label. The whole width flips it.
class IndicatorSwitch final : public QAbstractButton {
public:
    explicit IndicatorSwitch(QWidget* parent)
        : QAbstractButton(parent)
    {
        setCheckable(true);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override
    {
        return {Layout::kSwitchPadding + Layout::textWidth(font(), text()), Layout::kButtonHeight};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal trackTop = (height() - Layout::kSwitchTrackHeight) / 2.0;
        const QRectF track(0.5, trackTop, Layout::kSwitchTrackWidth - 1.0, Layout::kSwitchTrackHeight);
        painter.setPen(Qt::NoPen);
        painter.setBrush(isChecked() ? clientIcons::kAccent : kSwitchOff);
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
        const qreal knob = Layout::kSwitchTrackHeight - 4.0;
        const qreal knobLeft = isChecked() ? track.right() - 2.0 - knob : track.left() + 2.0;
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(knobLeft, trackTop + 2.0, knob, knob));

        painter.setPen(kText);
        painter.setFont(font());
        const int textLeft = Layout::kSwitchTrackWidth + Layout::kSwitchGap;
        painter.drawText(QRect(textLeft, 0, width() - textLeft, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
};

// Three dots: the bar opens under the pointer.
QPixmap moreHint(qreal devicePixelRatio)
{
    const QSize size(22, 8);
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kSecondary);
    for (int dot = 0; dot < 3; ++dot) {
        painter.drawEllipse(QRectF(1.5 + dot * 7.0, 2.0, 4.0, 4.0));
    }
    return pixmap;
}

} // namespace

ClientSupportIndicatorView::ClientSupportIndicatorView(ClientModel& model, Options options, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , options_(options)
    , fonts_(Layout::Fonts::from(font()))
    , connectedAt_(options.clock.monotonicNow())
{
    setTextColour(*this, kText);

    main_ = new QWidget(this);
    auto* row = new QHBoxLayout(main_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    status_ = buildStatus();
    row->addWidget(status_);
    tail_ = new QWidget(main_);
    tail_->setFixedWidth(Layout::kCollapsedTail);
    auto* tailLayout = new QHBoxLayout(tail_);
    tailLayout->setContentsMargins(0, 0, 0, 0);
    tailLayout->addWidget(iconLabel(moreHint(devicePixelRatioF()), tail_), 0, Qt::AlignCenter);
    row->addWidget(tail_);
    actions_ = buildActions();
    row->addWidget(actions_);
    row->addStretch(1);

    pages_ = new QStackedLayout(this);
    pages_->addWidget(main_);
    confirmationPage_ = buildConfirmation();
    pages_->addWidget(confirmationPage_);

    for (const auto signal : {&ClientModel::languageChanged, &ClientModel::indicatorStatusTextChanged,
                              &ClientModel::verifiedViewersChanged, &ClientModel::securityVerificationCodeChanged,
                              &ClientModel::viewOnlyChanged}) {
        connect(&model_, signal, this, &ClientSupportIndicatorView::refresh);
    }
    connect(&model_.services().capture(), &CaptureService::isSystemAudioActiveChanged, this,
            &ClientSupportIndicatorView::refresh);
    for (QWidget* answer : {static_cast<QWidget*>(endButton_), static_cast<QWidget*>(switch_),
                            static_cast<QWidget*>(confirm_), static_cast<QWidget*>(cancel_)}) {
        options_.inputGuard.guard(*answer);
    }
    connect(endButton_, &QPushButton::clicked, this, &ClientSupportIndicatorView::askToEnd);
    connect(switch_, &QAbstractButton::clicked, this, &ClientSupportIndicatorView::askRemoteControl);
    connect(confirm_, &QPushButton::clicked, this, &ClientSupportIndicatorView::confirm);
    connect(cancel_, &QPushButton::clicked, this, &ClientSupportIndicatorView::closeConfirmation);

    tickTask_ = options_.scheduler.postRepeating(
        1s, weakGuarded(this, [](ClientSupportIndicatorView& view) { view.showElapsed(); }));
    refresh();
    showPage();
}

QString ClientSupportIndicatorView::text(std::string_view key) const
{
    return options_.texts.localizedText(key, model_.language());
}

QWidget* ClientSupportIndicatorView::buildStatus()
{
    auto* area = new QWidget(main_);
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(Layout::kStatusLeading, 0, Layout::kStatusTrailing, 0);
    row->setSpacing(Layout::kGroupSpacing);

    auto* status = new QHBoxLayout;
    status->setSpacing(Layout::textWidth(fonts_.status, Layout::kTimeSeparator));
    statusLabel_ = textLabel(area, fonts_.status, kText);
    timeLabel_ = textLabel(area, fonts_.status, kSecondary);
    status->addWidget(statusLabel_);
    status->addWidget(timeLabel_);
    row->addLayout(status);

    codes_ = new QHBoxLayout;
    codes_->setSpacing(Layout::kGroupSpacing);
    row->addLayout(codes_);

    audio_ = new QWidget(area);
    auto* audio = new QHBoxLayout(audio_);
    audio->setContentsMargins(0, 0, 0, 0);
    audio->setSpacing(Layout::kIconGap);
    audio->addWidget(iconLabel(clientIcons::speaker(Layout::kIconSize, kSecondary, devicePixelRatioF()), audio_));
    audioLabel_ = textLabel(audio_, fonts_.label, kSecondary);
    audio->addWidget(audioLabel_);
    row->addWidget(audio_);
    row->addStretch(1);
    return area;
}

QWidget* ClientSupportIndicatorView::buildActions()
{
    auto* actions = new QWidget(main_);
    auto* row = new QHBoxLayout(actions);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addSpacing(Layout::kBeforeEnd);
    endButton_ = filledButton(actions, fonts_.button, kDanger);
    row->addWidget(endButton_);
    row->addSpacing(Layout::kAfterEnd);
    switch_ = new IndicatorSwitch(actions);
    switch_->setFont(fonts_.button);
    switch_->setFixedHeight(Layout::kButtonHeight);
    row->addWidget(switch_);
    return actions;
}

QWidget* ClientSupportIndicatorView::buildConfirmation()
{
    auto* page = new QWidget(this);
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(Layout::kConfirmationLeading, 0, Layout::kConfirmationTrailing, 0);
    row->setSpacing(0);
    question_ = textLabel(page, fonts_.question, kText);
    question_->setWordWrap(true);
    question_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row->addWidget(question_);
    row->addStretch(1);
    row->addSpacing(Layout::kConfirmationQuestionGap);
    cancel_ = filledButton(page, fonts_.button, kNeutralFill);
    row->addWidget(cancel_);
    row->addSpacing(Layout::kConfirmationButtonGap);
    confirm_ = filledButton(page, fonts_.button, kDanger);
    row->addWidget(confirm_);
    return page;
}

int ClientSupportIndicatorView::panelWidth() const
{
    if (!expanded_) {
        return widths_.collapsedWidth();
    }
    if (confirmation_ == Confirmation::none) {
        return widths_.expandedWidth();
    }
    return std::max(widths_.expandedWidth(),
                    Layout::confirmationWidth(fonts_, question_->text(), {cancel_->text(), confirm_->text()}));
}

void ClientSupportIndicatorView::refresh()
{
    const Layout::Content content = Layout::Content::of(model_, options_.texts);
    statusText_ = content.status;
    statusLabel_->setText(statusText_);
    showElapsed();
    rebuildCodes(content);
    audioLabel_->setText(content.systemAudio);
    audio_->setVisible(!content.systemAudio.isEmpty());
    endButton_->setText(content.endSupport);
    switch_->setText(content.remoteControl);
    switch_->setAccessibleName(content.remoteControl);

    widths_ = Layout::compute(content, fonts_);
    status_->setFixedWidth(widths_.statusWidth);
    endButton_->setFixedWidth(widths_.endWidth);
    switch_->setFixedWidth(widths_.permissionWidth);

    // The model may already be where the waiting question would take it.
    if (pendingRemoteControlAllowed_ && *pendingRemoteControlAllowed_ == !model_.viewOnly()) {
        confirmation_ = Confirmation::none;
        pendingRemoteControlAllowed_.reset();
    }
    syncSwitch();
    fillConfirmation();
    showPage();
    emit layoutChanged();
}

void ClientSupportIndicatorView::rebuildCodes(const Layout::Content& content)
{
    while (QLayoutItem* item = codes_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const Layout::Content::Viewer& viewer : content.viewers) {
        auto* group = new QWidget(status_);
        auto* row = new QHBoxLayout(group);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(Layout::kIconGap);
        auto* shield = iconLabel(clientIcons::shieldCheck(Layout::kIconSize, kShield, devicePixelRatioF()), group);
        shield->setToolTip(text("security.verification_code"));
        row->addWidget(shield);
        auto* code = textLabel(group, fonts_.code, kText);
        code->setText(viewer.code);
        code->setAccessibleName(text("security.verification_code"));
        row->addWidget(code);
        if (!viewer.name.isEmpty()) {
            row->addSpacing(Layout::kNameGap - Layout::kIconGap);
            auto* name = textLabel(group, fonts_.label, kSecondary);
            name->setText(viewer.name);
            row->addWidget(name);
        }
        codes_->addWidget(group);
    }
}

void ClientSupportIndicatorView::showElapsed()
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(options_.clock.monotonicNow() - connectedAt_);
    const long long seconds = std::max<long long>(elapsed.count(), 0);
    timeLabel_->setText(QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60));
}

void ClientSupportIndicatorView::showPage()
{
    pages_->setCurrentWidget(confirmation_ == Confirmation::none ? main_ : confirmationPage_);
    // While the bar asks, the viewers' input waits: the agent must not answer for the customer.
    model_.services().remoteInput().setCustomerQuestionOpen("support_bar", confirmation_ != Confirmation::none);
    tail_->setVisible(!expanded_);
    actions_->setVisible(expanded_);
}

void ClientSupportIndicatorView::syncSwitch()
{
    switch_->setChecked(pendingRemoteControlAllowed_.value_or(!model_.viewOnly()));
}

// ---- Hover -------------------------------------------------------------------------------

void ClientSupportIndicatorView::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    pendingCollapseTask_.cancel();
    setExpanded(true);
}

void ClientSupportIndicatorView::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    pendingCollapseTask_ = options_.scheduler.postDelayed(
        kCollapseDelay, weakGuarded(this, [](ClientSupportIndicatorView& view) { view.collapseUnlessBusy(); }));
}

void ClientSupportIndicatorView::collapseUnlessBusy()
{
    // An open question stays until it is answered.
    if (confirmation_ != Confirmation::none || pendingRemoteControlAllowed_) {
        return;
    }
    setExpanded(false);
}

void ClientSupportIndicatorView::setExpanded(bool expanded)
{
    if (expanded_ == expanded) {
        return;
    }
    expanded_ = expanded;
    showPage();
    emit expansionChanged(expanded_);
}

// ---- Confirmations -------------------------------------------------------------------------

void ClientSupportIndicatorView::askToEnd()
{
    confirmation_ = Confirmation::endSupport;
    pendingRemoteControlAllowed_.reset();
    fillConfirmation();
    showPage();
    emit layoutChanged();
}

void ClientSupportIndicatorView::askRemoteControl(bool allowed)
{
    confirmation_ = Confirmation::remoteControl;
    pendingRemoteControlAllowed_ = allowed;
    syncSwitch();
    fillConfirmation();
    showPage();
    emit layoutChanged();
}

void ClientSupportIndicatorView::fillConfirmation()
{
    switch (confirmation_) {
    case Confirmation::none:
        return;
    case Confirmation::endSupport:
        question_->setText(text("indicator.confirm_end"));
        confirm_->setText(text("action.end"));
        styleFilled(*confirm_, kDanger);
        break;
    case Confirmation::remoteControl: {
        const bool allow = pendingRemoteControlAllowed_.value_or(false);
        question_->setText(text(allow ? "indicator.confirm_allow_remote_control" : "indicator.confirm_block_remote_control"));
        confirm_->setText(text(allow ? "action.allow" : "action.block"));
        styleFilled(*confirm_, clientIcons::kAccent);
        break;
    }
    }
    cancel_->setText(text("action.cancel"));
    confirm_->setFixedWidth(Layout::confirmationButtonWidth(fonts_, confirm_->text()));
    cancel_->setFixedWidth(Layout::confirmationButtonWidth(fonts_, cancel_->text()));
    fitQuestion();
}

void ClientSupportIndicatorView::fitQuestion()
{
    const QString question = question_->text();
    const int available =
        panelWidth() - Layout::confirmationChromeWidth(fonts_, {cancel_->text(), confirm_->text()});
    const int oneLine = Layout::textWidth(fonts_.question, question);
    // panelWidth() leaves room for the two-line width.
    question_->setFixedWidth(oneLine <= available ? oneLine : Layout::questionWidth(fonts_, question));
}

void ClientSupportIndicatorView::confirm()
{
    const Confirmation answered = confirmation_;
    const std::optional<bool> allowed = pendingRemoteControlAllowed_;
    closeConfirmation();
    // Last: ending support may close the bar.
    if (answered == Confirmation::endSupport) {
        model_.endSupport();
    } else if (answered == Confirmation::remoteControl && allowed) {
        model_.setRemoteControlAllowed(*allowed);
        syncSwitch(); // the model may have refused
    }
}

void ClientSupportIndicatorView::closeConfirmation()
{
    confirmation_ = Confirmation::none;
    pendingRemoteControlAllowed_.reset();
    syncSwitch();
    showPage();
    emit layoutChanged();
}

// ---- Painting ------------------------------------------------------------------------------

void ClientSupportIndicatorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(kEdge, 1.0));
    painter.setBrush(kBackground);
    painter.drawRoundedRect(body, kCornerRadius, kCornerRadius);
}

} // namespace doorwarden
