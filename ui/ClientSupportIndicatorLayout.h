#pragma once

#include "core/ClientModel.h"
#include "localization/ClientLanguage.h"
#include "localization/ClientLocalization.h"

#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

namespace doorwarden {

// The widths of the support indicator bar, worked out from what it shows and the fonts it shows
// it in. The bar is always kHeight high; left to right it holds:
//
// - the status area, `statusWidth` wide: the status text with the time since the bar appeared,
//   each ready viewer's verification code behind a shield (with the viewer's name when there is
//   more than one), and the system-audio label while system audio is shared;
// - collapsed, a tail of 16 + 6 + 78 with a hint that the bar opens;
// - expanded, instead of the tail, the action row. Today it holds "end support" (`endWidth`)
//   and the remote-control switch (`permissionWidth`): 16 + endWidth + 24 + permissionWidth.
//   Chat, drawing, stop-recording and end-call are not in this client yet and take no room.
//
// A confirmation takes the whole expanded bar: the question (on one line when it fits, else on
// two of about equal length), then its buttons; the bar widens when the question needs it.
//
// Each width is at least its fixed minimum for the language and otherwise as wide as its
// texts measure, so that a longer text widens the bar instead of being cut.
struct ClientSupportIndicatorLayout {
    // The bar's fonts.
    struct Fonts {
        QFont status;   // the status text and the elapsed time
        QFont code;     // verification codes
        QFont label;    // viewer names and the system-audio label
        QFont button;   // the action row and the confirmation buttons
        QFont question; // a confirmation's question

        // In the family of `base`, at pixel sizes that sit well in a bar of kHeight.
        static Fonts from(const QFont& base);
    };

    // What the bar shows, already localised.
    struct Content {
        struct Viewer {
            QString code;
            QString name; // empty: not shown
        };
        ClientLanguage language = ClientLanguage::korean;
        QString status;        // the status text, without the time
        QList<Viewer> viewers; // every ready viewer with a verification code
        QString systemAudio;   // empty while system audio is not shared
        QString endSupport;
        QString remoteControl;

        static Content of(const ClientModel& model, const ClientLocalization& texts);
    };

    static constexpr int kHeight = 38;

    // Minimums by language.
    static constexpr int kStatusMinimumEnglish = 250;
    static constexpr int kStatusMinimumKorean = 204;
    static constexpr int kPermissionMinimumEnglish = 118;
    static constexpr int kPermissionMinimumKorean = 106;
    static constexpr int kEndMinimumEnglish = 96;
    static constexpr int kEndMinimumKorean = 78;

    // The row between the parts.
    static constexpr int kCollapsedTail = 16 + 6 + 78;
    static constexpr int kBeforeEnd = 16;
    static constexpr int kAfterEnd = 24;

    // Inside the status area.
    static constexpr int kStatusLeading = 12;
    static constexpr int kStatusTrailing = 13;
    static constexpr int kGroupSpacing = 10; // between the status, each code and the audio label
    static constexpr int kIconSize = 14;
    static constexpr int kIconGap = 4;
    static constexpr int kNameGap = 6; // between a code and its viewer's name
    static inline const QString kTimeSeparator = QStringLiteral("  ");
    static inline const QString kTimeSample = QStringLiteral("00:00:00");

    // Filled buttons and the switch.
    static constexpr int kButtonHeight = 26;
    static constexpr int kButtonPadding = 28; // both sides together
    static constexpr int kConfirmationButtonMinimum = 64;
    static constexpr int kSwitchTrackWidth = 30;
    static constexpr int kSwitchTrackHeight = 16;
    static constexpr int kSwitchGap = 8;
    static constexpr int kSwitchTrailing = 14;
    static constexpr int kSwitchPadding = kSwitchTrackWidth + kSwitchGap + kSwitchTrailing;

    // A confirmation: leading inset, question, gap, buttons apart by kConfirmationButtonGap,
    // trailing inset.
    static constexpr int kConfirmationLeading = 14;
    static constexpr int kConfirmationQuestionGap = 12;
    static constexpr int kConfirmationButtonGap = 8;
    static constexpr int kConfirmationTrailing = 6;
    static constexpr int kQuestionLines = 2;

    int statusWidth = 0;
    int endWidth = 0;
    int permissionWidth = 0;

    int collapsedWidth() const { return statusWidth + kCollapsedTail; }
    int expandedWidth() const { return statusWidth + kBeforeEnd + endWidth + kAfterEnd + permissionWidth; }

    static ClientSupportIndicatorLayout compute(const Content& content, const Fonts& fonts);

    // The width a text needs in `font`, rounded up; never less than its advance.
    static int textWidth(const QFont& font, const QString& text);
    // A confirmation button's width.
    static int confirmationButtonWidth(const Fonts& fonts, const QString& text);
    // The narrowest width that shows `question` on at most kQuestionLines lines, as a label with
    // word wrap lays it out: the lines come out of about equal length.
    static int questionWidth(const Fonts& fonts, const QString& question);
    // A confirmation's width without its question: insets, gaps and `buttons`.
    static int confirmationChromeWidth(const Fonts& fonts, const QStringList& buttons);
    // The narrowest bar that shows `question` with `buttons`.
    static int confirmationWidth(const Fonts& fonts, const QString& question, const QStringList& buttons)
    {
        return confirmationChromeWidth(fonts, buttons) + questionWidth(fonts, question);
    }
};

} // namespace doorwarden
