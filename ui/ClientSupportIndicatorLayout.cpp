#include "ui/ClientSupportIndicatorLayout.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace doorwarden {

namespace {

QFont sized(const QFont& base, int pixels, QFont::Weight weight)
{
    QFont font = base;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

bool isEnglish(ClientLanguage language)
{
    return language == ClientLanguage::english;
}

} // namespace

ClientSupportIndicatorLayout::Fonts ClientSupportIndicatorLayout::Fonts::from(const QFont& base)
{
    QFont mono = sized(base, 12, QFont::DemiBold);
    mono.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
    mono.setStyleHint(QFont::Monospace);
    return {
        .status = sized(base, 12, QFont::Bold),
        .code = mono,
        .label = sized(base, 12, QFont::Normal),
        .button = sized(base, 12, QFont::DemiBold),
        .question = sized(base, 12, QFont::Normal),
    };
}

ClientSupportIndicatorLayout::Content ClientSupportIndicatorLayout::Content::of(const ClientModel& model,
                                                                                const ClientLocalization& texts)
{
    const ClientLanguage language = model.language();
    Content content;
    content.language = language;
    content.status = model.indicatorStatusText();
    for (const ClientVerifiedViewer& viewer : model.verifiedViewers()) {
        if (!viewer.verificationCode.isEmpty()) {
            content.viewers.append({viewer.verificationCode, viewer.name});
        }
    }
    if (content.viewers.isEmpty() && !model.securityVerificationCode().isEmpty()) {
        content.viewers.append({model.securityVerificationCode(), QString()});
    }
    if (content.viewers.size() == 1) {
        content.viewers.front().name.clear(); // one viewer needs no name
    }
    if (model.services().capture().isSystemAudioActive()) {
        content.systemAudio = texts.localizedText("indicator.system_audio_active", language);
    }
    content.endSupport = texts.localizedText("indicator.end_support", language);
    content.remoteControl = texts.localizedText("indicator.allow_remote_control", language);
    return content;
}

int ClientSupportIndicatorLayout::textWidth(const QFont& font, const QString& text)
{
    const QFontMetricsF metrics(font);
    return static_cast<int>(std::ceil(std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width())));
}

ClientSupportIndicatorLayout ClientSupportIndicatorLayout::compute(const Content& content, const Fonts& fonts)
{
    const bool english = isEnglish(content.language);

    // The status text with room for the time, then each code and the audio label as a group.
    int status = kStatusLeading + kStatusTrailing + textWidth(fonts.status, content.status) +
                 textWidth(fonts.status, kTimeSeparator) + textWidth(fonts.status, kTimeSample);
    for (const Content::Viewer& viewer : content.viewers) {
        status += kGroupSpacing + kIconSize + kIconGap + textWidth(fonts.code, viewer.code);
        if (!viewer.name.isEmpty()) {
            status += kNameGap + textWidth(fonts.label, viewer.name);
        }
    }
    if (!content.systemAudio.isEmpty()) {
        status += kGroupSpacing + kIconSize + kIconGap + textWidth(fonts.label, content.systemAudio);
    }

    ClientSupportIndicatorLayout layout;
    layout.statusWidth = std::max(english ? kStatusMinimumEnglish : kStatusMinimumKorean, status);
    layout.endWidth = std::max(english ? kEndMinimumEnglish : kEndMinimumKorean,
                               textWidth(fonts.button, content.endSupport) + kButtonPadding);
    layout.permissionWidth = std::max(english ? kPermissionMinimumEnglish : kPermissionMinimumKorean,
                                      textWidth(fonts.button, content.remoteControl) + kSwitchPadding);
    return layout;
}

int ClientSupportIndicatorLayout::confirmationButtonWidth(const Fonts& fonts, const QString& text)
{
    return std::max(kConfirmationButtonMinimum, textWidth(fonts.button, text) + kButtonPadding);
}

int ClientSupportIndicatorLayout::confirmationChromeWidth(const Fonts& fonts, const QStringList& buttons)
{
    int width = kConfirmationLeading + kConfirmationQuestionGap + kConfirmationTrailing;
    for (const QString& button : buttons) {
        width += confirmationButtonWidth(fonts, button);
    }
    return width + kConfirmationButtonGap * static_cast<int>(std::max<qsizetype>(buttons.size() - 1, 0));
}

int ClientSupportIndicatorLayout::questionWidth(const Fonts& fonts, const QString& question)
{
    const QFontMetrics metrics(fonts.question);
    const auto height = [&](int width) {
        return metrics.boundingRect(QRect(0, 0, width, 10'000), Qt::TextWordWrap, question).height();
    };
    const int full = textWidth(fonts.question, question);
    const int line = height(full + 1);
    const int allowed = line * kQuestionLines + line / 2;
    for (int candidate = (full + kQuestionLines - 1) / kQuestionLines; candidate < full; candidate += 2) {
        if (height(candidate) <= allowed) {
            return candidate;
        }
    }
    return full;
}

} // namespace doorwarden
