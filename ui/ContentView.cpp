#include "ui/ContentView.h"

#include "platform/ClientBuildConfig.h"
#include "ui/ClientIcons.h"
#include "ui/IconLabel.h"

#include <QHBoxLayout>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>

namespace doorwarden {

namespace {

using Kind = ClientConnectionState::Kind;

constexpr int kCodeBoxes = 6;
constexpr int kWindowWidth = 480;

QLabel* wrappedLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QFont scaledFont(const QFont& base, double factor, QFont::Weight weight)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

// A warning row: the icon, a text that wraps, and the buttons below the text.
QWidget* noticeBox(QWidget* parent, QLabel*& text, const std::vector<QPushButton*>& buttons)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QStringLiteral("notice"));
    box->setAttribute(Qt::WA_StyledBackground);
    box->setStyleSheet(QStringLiteral("#notice { background: #fff6e0; border: 1px solid #f0d28c; border-radius: 8px; }"));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(10, 8, 10, 8);
    row->addWidget(iconLabel(clientIcons::warning(18, clientIcons::kWarning), box), 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    text = wrappedLabel(box);
    column->addWidget(text);
    auto* buttonRow = new QHBoxLayout;
    for (QPushButton* button : buttons) {
        buttonRow->addWidget(button);
    }
    buttonRow->addStretch(1);
    column->addLayout(buttonRow);
    row->addLayout(column, 1);
    return box;
}

} // namespace

ContentView::ContentView(ClientModel& model, const ClientLocalization& texts, Options options, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , texts_(texts)
    , options_(std::move(options))
{
    pages_ = new QStackedLayout(this);
    form_ = buildForm();
    ending_ = buildEnding();
    pages_->addWidget(form_);
    pages_->addWidget(ending_);

    for (const auto signal :
         {&ClientModel::connectionStateChanged, &ClientModel::statusMessageChanged, &ClientModel::enteredCodeChanged,
          &ClientModel::securityVerificationCodeChanged, &ClientModel::verifiedViewersChanged,
          &ClientModel::permissionsChanged, &ClientModel::viewOnlyChanged, &ClientModel::actionChanged,
          &ClientModel::requiresRecordingConsentChanged, &ClientModel::requiresCallConsentChanged,
          &ClientModel::recoveryStartupNeedsApprovalChanged, &ClientModel::viewerEndCountdownChanged,
          &ClientModel::removesApplicationOnExitChanged}) {
        connect(&model_, signal, this, &ContentView::refresh);
    }
    connect(&model_, &ClientModel::languageChanged, this, [this] {
        retranslate();
        refresh();
    });

    connect(codeView_, &ClientCodeKeyView::digitTyped, this, &ContentView::onDigit);
    connect(codeView_, &ClientCodeKeyView::backspacePressed, this, &ContentView::onBackspace);
    connect(codeView_, &ClientCodeKeyView::deletePressed, this, &ContentView::onDelete);
    connect(codeView_, &ClientCodeKeyView::moved, this, &ContentView::onMove);
    connect(codeView_, &ClientCodeKeyView::pasted, this, &ContentView::onPaste);
    connect(codeView_, &ClientCodeKeyView::submitted, this, &ContentView::onSubmit);
    connect(primaryButton_, &QPushButton::clicked, this, [this] { model_.performPrimaryAction(); });
    connect(viewOnly_, &QCheckBox::toggled, this, [this](bool on) { model_.setViewOnly(on); });
    connect(recordingConsent_, &QCheckBox::toggled, this, [this](bool on) { model_.setRequiresRecordingConsent(on); });
    connect(callConsent_, &QCheckBox::toggled, this, [this](bool on) { model_.setRequiresCallConsent(on); });
    // X11 has no privacy settings to open: the buttons say what the desktop lacks, and log it.
    connect(screenButton_, &QPushButton::clicked, this, [this] {
        model_.permissionManager().requestScreenRecordingAccess();
        permissionHelp_->setText(text("permissions.screen_recording_x11"));
        permissionHelp_->show();
        emit layoutChanged();
    });
    connect(inputButton_, &QPushButton::clicked, this, [this] {
        model_.permissionManager().requestAccessibilityAccess();
        permissionHelp_->setText(text("permissions.accessibility_x11"));
        permissionHelp_->show();
        emit layoutChanged();
    });
    connect(loginItemButton_, &QPushButton::clicked, this, [this] {
        if (options_.openLoginItemSettings) {
            options_.openLoginItemSettings();
        }
    });
    connect(language_, &QComboBox::activated, this, [this](int index) {
        model_.setLanguage(kClientLanguages.at(static_cast<std::size_t>(index)));
    });
    connect(reconnectButton_, &QPushButton::clicked, this, [this] { model_.cancelViewerEndCountdown(); });

    retranslate();
    refresh();
}

QString ContentView::text(std::string_view key) const
{
    return texts_.localizedText(key, model_.language());
}

QWidget* ContentView::buildForm()
{
    auto* form = new QWidget(this);
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(30, 28, 30, 20);
    column->setSpacing(10);

    // Header: the application, and the verification codes while supporting.
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(iconLabel(clientIcons::application(44, devicePixelRatioF()), form));
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    auto* name = new QLabel(QStringLiteral("Doorwarden"), form);
    name->setFont(scaledFont(font(), 1.35, QFont::Bold));
    auto* tagline = new QLabel(QStringLiteral("Remote Support"), form);
    tagline->setStyleSheet(QStringLiteral("color: #667085;"));
    names->addWidget(name);
    names->addWidget(tagline);
    header->addLayout(names);
    header->addStretch(1);
    verification_ = new QWidget(form);
    auto* verification = new QHBoxLayout(verification_);
    verification->setContentsMargins(0, 0, 0, 0);
    verification->setSpacing(6);
    verification->addWidget(iconLabel(clientIcons::shieldCheck(20, QColor(0x1f, 0x9d, 0x55), devicePixelRatioF()),
                                      verification_));
    auto* verificationTexts = new QVBoxLayout;
    verificationTexts->setSpacing(0);
    verificationLabel_ = new QLabel(verification_);
    verificationLabel_->setStyleSheet(QStringLiteral("color: #667085;"));
    verificationCodes_ = new QLabel(verification_);
    QFont codeFont = scaledFont(font(), 1.25, QFont::DemiBold);
    codeFont.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    verificationCodes_->setFont(codeFont);
    verificationTexts->addWidget(verificationLabel_);
    verificationTexts->addWidget(verificationCodes_);
    verification->addLayout(verificationTexts);
    header->addWidget(verification_);
    column->addLayout(header);
    column->addSpacing(6);

    title_ = wrappedLabel(form);
    title_->setFont(scaledFont(font(), 1.5, QFont::Bold));
    subtitle_ = wrappedLabel(form);
    subtitle_->setStyleSheet(QStringLiteral("color: #475467;"));
    column->addWidget(title_);
    column->addWidget(subtitle_);

    codeView_ = new ClientCodeKeyView(form);
    column->addWidget(codeView_, 0, Qt::AlignHCenter);

    status_ = wrappedLabel(form);
    status_->setMinimumHeight(status_->fontMetrics().lineSpacing() * 2);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(status_);

    primaryButton_ = new QPushButton(form);
    primaryButton_->setObjectName(QStringLiteral("primary"));
    primaryButton_->setMinimumHeight(36);
    primaryButton_->setStyleSheet(QStringLiteral(
        "#primary { background: #2f6feb; color: white; border: none; border-radius: 8px; font-weight: 600; padding: 6px; }"
        "#primary:hover { background: #2760d0; }"
        "#primary:disabled { background: #b7c7ea; color: #f5f7fb; }"));
    column->addWidget(primaryButton_);

    viewOnly_ = new QCheckBox(form);
    recordingConsent_ = new QCheckBox(form);
    callConsent_ = new QCheckBox(form);
    QFont small = font();
    small.setPointSizeF(font().pointSizeF() * 0.92);
    recordingConsent_->setFont(small);
    callConsent_->setFont(small);
    column->addWidget(viewOnly_);
    column->addWidget(recordingConsent_);
    column->addWidget(callConsent_);

    screenButton_ = new QPushButton(form);
    inputButton_ = new QPushButton(form);
    permissions_ = noticeBox(form, permissionsText_, {screenButton_, inputButton_});
    permissionHelp_ = wrappedLabel(permissions_);
    permissionHelp_->setStyleSheet(QStringLiteral("color: #6b4e00;"));
    permissionHelp_->hide();
    static_cast<QVBoxLayout*>(permissions_->layout()->itemAt(1)->layout())->addWidget(permissionHelp_);
    column->addWidget(permissions_);

    loginItemButton_ = new QPushButton(form);
    loginItem_ = noticeBox(form, loginItemText_, {loginItemButton_});
    loginItemButton_->setVisible(static_cast<bool>(options_.openLoginItemSettings));
    column->addWidget(loginItem_);

    column->addStretch(1);
    auto* footer = new QHBoxLayout;
    languageLabel_ = new QLabel(form);
    language_ = new QComboBox(form);
    for (const ClientLanguage language : kClientLanguages) {
        language_->addItem(texts_.localizedText("language.name", language)); // each named in itself
    }
    footer->addWidget(languageLabel_);
    footer->addWidget(language_);
    footer->addStretch(1);
    auto* version = new QLabel(QString::fromLatin1(build::kDisplayVersion), form);
    version->setStyleSheet(QStringLiteral("color: #98a2b3;"));
    footer->addWidget(version);
    column->addLayout(footer);
    return form;
}

QWidget* ContentView::buildEnding()
{
    auto* ending = new QWidget(this);
    auto* column = new QVBoxLayout(ending);
    column->setContentsMargins(30, 28, 30, 20);
    column->setSpacing(12);
    column->addStretch(1);
    endingIcon_ = new QLabel(ending);
    endingIcon_->setFixedSize(52, 52);
    column->addWidget(endingIcon_, 0, Qt::AlignHCenter);
    endingTitle_ = wrappedLabel(ending);
    endingTitle_->setAlignment(Qt::AlignCenter);
    endingTitle_->setFont(scaledFont(font(), 1.5, QFont::Bold));
    column->addWidget(endingTitle_);
    endingNotice_ = wrappedLabel(ending);
    endingNotice_->setAlignment(Qt::AlignCenter);
    column->addWidget(endingNotice_);
    reconnectButton_ = new QPushButton(ending);
    reconnectButton_->setObjectName(QStringLiteral("primary"));
    reconnectButton_->setMinimumSize(200, 36);
    reconnectButton_->setStyleSheet(primaryButton_->styleSheet());
    column->addWidget(reconnectButton_, 0, Qt::AlignHCenter);
    endingHint_ = wrappedLabel(ending);
    endingHint_->setAlignment(Qt::AlignCenter);
    endingHint_->setStyleSheet(QStringLiteral("color: #667085;"));
    column->addWidget(endingHint_);
    endingStatus_ = wrappedLabel(ending);
    endingStatus_->setAlignment(Qt::AlignCenter);
    column->addWidget(endingStatus_);
    column->addStretch(1);
    return ending;
}

void ContentView::retranslate()
{
    verificationLabel_->setText(text("security.verification_code"));
    viewOnly_->setText(text("main.view_only"));
    viewOnly_->setToolTip(text("main.view_only_help"));
    recordingConsent_->setText(text("settings.recording_consent"));
    callConsent_->setText(text("settings.call_consent"));
    permissionsText_->setText(text("permissions.required"));
    screenButton_->setText(text("permissions.screen_recording"));
    inputButton_->setText(text("permissions.accessibility"));
    permissionHelp_->hide();
    loginItemText_->setText(text("recovery.login_item_notice"));
    loginItemButton_->setText(text("action.open_settings"));
    languageLabel_->setText(text("language.label"));
    const auto chosen = std::find(kClientLanguages.begin(), kClientLanguages.end(), model_.language());
    language_->setCurrentIndex(static_cast<int>(chosen - kClientLanguages.begin()));
    reconnectButton_->setText(text("ending.reconnect"));
}

void ContentView::refresh()
{
    const Kind kind = model_.connectionState().kind();
    const bool supporting = kind == Kind::supporting;
    const bool beforeSession = model_.connectionState().isQuiet() || kind == Kind::failed;

    if (kind == Kind::viewerEnding) {
        const bool removing = model_.removesApplicationOnExit();
        endingIcon_->setPixmap(removing ? clientIcons::trashCircle(52, clientIcons::kOrange, devicePixelRatioF())
                                        : clientIcons::checkCircle(52, clientIcons::kAccent, devicePixelRatioF()));
        endingTitle_->setText(text(removing ? "ending.removing_title" : "ending.ended_title"));
        endingNotice_->setText(text("ending.permission_notice"));
        endingNotice_->setVisible(removing);
        reconnectButton_->setVisible(!removing);
        endingHint_->setText(text(removing ? "common.please_wait" : "ending.reconnect_hint"));
        endingStatus_->setText(model_.statusMessage());
        showPage(ending_);
        emit layoutChanged();
        return;
    }
    showPage(form_);

    QStringList codes;
    const auto viewers = model_.verifiedViewers();
    for (const auto& viewer : viewers) {
        if (viewer.verificationCode.isEmpty()) {
            continue;
        }
        const bool named = viewers.size() > 1 && !viewer.name.isEmpty();
        codes << (named ? QStringLiteral("%1  %2").arg(viewer.verificationCode, viewer.name) : viewer.verificationCode);
    }
    if (codes.isEmpty() && !model_.securityVerificationCode().isEmpty()) {
        codes << model_.securityVerificationCode();
    }
    verificationCodes_->setText(codes.join(u'\n'));
    verification_->setVisible(supporting && !codes.isEmpty());

    title_->setText(text(supporting ? "main.supporting_title" : "main.ready_title"));
    subtitle_->setText(text(supporting ? "main.supporting_subtitle" : "main.ready_subtitle"));
    codeView_->setCode(model_.normalizedCode().leftJustified(kCodeBoxes, u'0'));
    codeView_->setEnabled(beforeSession);
    status_->setText(model_.statusMessage());
    primaryButton_->setText(model_.primaryActionTitle());
    primaryButton_->setEnabled(!model_.isPrimaryActionDisabled());

    const QSignalBlocker blockViewOnly(viewOnly_);
    const QSignalBlocker blockRecording(recordingConsent_);
    const QSignalBlocker blockCall(callConsent_);
    viewOnly_->setChecked(model_.viewOnly());
    viewOnly_->setEnabled(beforeSession); // during a session the indicator's switch decides
    recordingConsent_->setChecked(model_.requiresRecordingConsent());
    callConsent_->setChecked(model_.requiresCallConsent());

    const auto permissions = model_.permissions();
    permissions_->setVisible(!model_.permissionsSatisfied());
    screenButton_->setVisible(!permissions.screenRecording);
    inputButton_->setVisible(!permissions.accessibility && !model_.viewOnly());
    if (model_.permissionsSatisfied()) {
        permissionHelp_->hide();
    }
    loginItem_->setVisible(model_.recoveryStartupNeedsApproval());
    emit layoutChanged();
}

// The page not shown takes no room: the window is as tall as the page it shows needs.
void ContentView::showPage(QWidget* page)
{
    for (QWidget* each : {form_, ending_}) {
        each->setSizePolicy(each == page ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                            each == page ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    }
    pages_->setCurrentWidget(page);
}

int ContentView::preferredHeight() const
{
    int target = 0;
    if (model_.connectionState().kind() == Kind::viewerEnding) {
        target = 450;
    } else {
        target = model_.statusMessage() == text("status.permissions_ready") ? 490 : 518;
        target += model_.permissionsSatisfied() ? 0 : 58;
        target += model_.recoveryStartupNeedsApproval() ? 58 : 0;
    }
    // Linux fonts run larger than the figures assume: never less than the layout needs.
    const QLayout* layout = pages_->currentWidget()->layout();
    const int needed = layout->hasHeightForWidth() ? layout->totalHeightForWidth(kWindowWidth)
                                                   : layout->totalMinimumSize().height();
    return std::max(target, needed);
}

// ---- The code entry ------------------------------------------------------------------------

void ContentView::setActiveCodeIndex(int index)
{
    activeCodeIndex_ = std::clamp(index, 0, kCodeBoxes - 1);
    codeView_->setActiveIndex(activeCodeIndex_);
}

void ContentView::onDigit(char32_t digit)
{
    model_.setCodeDigit(activeCodeIndex_, digit);
    setActiveCodeIndex(activeCodeIndex_ + 1);
}

// Erasing writes "0": an erased code reads "000000", which the primary action refuses.
void ContentView::onBackspace()
{
    model_.setCodeDigit(activeCodeIndex_, U'0');
    setActiveCodeIndex(activeCodeIndex_ - 1);
}

void ContentView::onDelete()
{
    model_.setCodeDigit(activeCodeIndex_, U'0');
}

void ContentView::onMove(ClientCodeMovement movement)
{
    switch (movement) {
    case ClientCodeMovement::left:
        setActiveCodeIndex(activeCodeIndex_ - 1);
        break;
    case ClientCodeMovement::right:
        setActiveCodeIndex(activeCodeIndex_ + 1);
        break;
    case ClientCodeMovement::home:
        setActiveCodeIndex(0);
        break;
    case ClientCodeMovement::end:
        setActiveCodeIndex(kCodeBoxes - 1);
        break;
    }
}

void ContentView::onPaste(const QString& text)
{
    setActiveCodeIndex(model_.pasteCode(text, activeCodeIndex_));
}

void ContentView::onSubmit()
{
    const QString code = model_.normalizedCode();
    if (model_.permissionsSatisfied() && code.size() == kCodeBoxes && code != QStringLiteral("000000")) {
        model_.performPrimaryAction();
    }
}

} // namespace doorwarden
