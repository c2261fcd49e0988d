#include "localization/ClientLocalization.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <set>

using namespace doorwarden;

namespace {

// Every key the client looks up.
const char* const kAllKeys[] = {
    "action.allow", "action.block", "action.cancel", "action.cancel_connection", "action.connect",
    "action.connecting", "action.continue", "action.end", "action.end_support", "action.ending", "action.ok",
    "action.open_settings", "action.sending", "chat.button", "chat.placeholder", "chat.read",
    "chat.requires_connection", "chat.send", "chat.support_agent", "chat.unread", "chat.unread_count",
    "chat.window_title", "chat.with_agent", "client.removal.failed_message", "client.removal.failed_title",
    "client.removal.not_ready", "client.removal.ready", "common.please_wait", "drawing.active_button",
    "drawing.arrow", "drawing.button", "drawing.clear_all", "drawing.clear_mine", "drawing.close",
    "drawing.customer", "drawing.medium", "drawing.participant", "drawing.pen", "drawing.rectangle",
    "drawing.status_active", "drawing.status_author", "drawing.thick", "drawing.thin", "drawing.undo",
    "drawing.viewer", "ending.ended_title", "ending.permission_notice", "ending.reconnect",
    "ending.reconnect_hint", "ending.removing_title", "error.invalid_relay_address", "error.report.accepted",
    "error.report.accepted_with_id", "exit.confirm_message", "exit.confirm_title", "file.quick_desktop",
    "file.quick_documents", "file.quick_downloads", "file.quick_movies", "file.quick_music",
    "file.quick_pictures", "file_access.confirm_message", "file_access.confirm_title",
    "file_access.description", "file_access.full_disk", "file_access.full_disk_help", "file_access.limited",
    "file_access.prepare", "file_access.prepared", "file_access.preparing", "file_access.ready",
    "file_access.title", "indicator.accessibility_label", "indicator.active",
    "indicator.allow_remote_control", "indicator.call", "indicator.call_action",
    "indicator.confirm_allow_remote_control", "indicator.confirm_block_remote_control",
    "indicator.confirm_end", "indicator.confirm_stop_recording", "indicator.end_support",
    "indicator.recording", "indicator.recording_action", "indicator.recording_call", "indicator.stop",
    "indicator.system_audio_active", "install.move_failed_message", "install.move_failed_title",
    "install.move_prompt_accept", "install.move_prompt_decline", "install.move_prompt_message",
    "install.move_prompt_title", "language.label", "language.name", "main.ready_subtitle", "main.ready_title",
    "main.supporting_subtitle", "main.supporting_title", "main.view_only", "main.view_only_help",
    "permissions.accessibility", "permissions.required", "permissions.screen_recording", "recording.allow",
    "recording.consent_message", "recording.consent_title", "recording.deny", "recovery.login_item_notice",
    "report.description", "report.question", "report.submit", "report.title", "security.verification_code",
    "settings.call_consent", "settings.recording_consent", "status.closing_countdown",
    "status.connecting_code", "status.connection_failed", "status.encryption_ready",
    "status.encryption_ready_code", "status.ended", "status.ended_detail", "status.ending",
    "status.enter_code", "status.file_received", "status.permissions_ready", "status.permissions_required",
    "status.ready", "status.reconnecting_previous", "status.recovering", "status.recovery_expired",
    "status.relay_failed", "status.removing_countdown", "status.report_prepare_failed", "status.report_saved",
    "status.report_sending", "status.tell_code", "status.viewer_connected",
    "status.viewer_connected_preparing", "status.viewer_preparing", "update.cancel", "update.cancelling",
    "update.checking_size", "update.confirmation_description", "update.confirmation_title",
    "update.countdown_button", "update.downloading", "update.extracting", "update.failed",
    "update.installing", "update.later", "update.ok", "update.preparing", "update.restarting", "update.title",
    "Call_Title", "Call_Incoming", "Call_Waiting", "Call_Starting", "Call_Active", "Call_Muted",
    "Call_Accept", "Call_Decline", "Call_Mute", "Call_Unmute", "Call_End", "Call_Cancel", "Call_ConfirmEnd",
    "Call_Continue", "Call_Ended", "Call_Declined", "Call_Busy", "Call_Timeout", "Call_ConnectionLost",
    "Call_AudioError", "Call_PeerAudioError",
};

// Keys whose texts are formats with one argument, "%1".
const std::set<std::string> kFormatKeys = {
    "status.encryption_ready_code", "status.closing_countdown", "status.removing_countdown", "status.file_received",
    "drawing.status_author",        "error.report.accepted_with_id", "install.move_failed_message",
    "update.countdown_button",
};

} // namespace

TEST(ClientLocalizationTest, BothTablesHoldEveryKeyWithPlaceholdersExactlyWhereExpected)
{
    ASSERT_EQ(std::size(kAllKeys), 177u);
    const ClientLocalization& texts = ClientLocalization::bundled();
    const QRegularExpression placeholder(QStringLiteral("%\\d"));
    for (const auto language : kClientLanguages) {
        ASSERT_TRUE(texts.hasTable(language)) << rawValue(language);
        for (const char* key : kAllKeys) {
            const QString text = texts.localizedText(key, language, QString());
            ASSERT_FALSE(text.isEmpty()) << rawValue(language) << " lacks " << key;
            const auto placeholders = text.count(placeholder);
            if (kFormatKeys.contains(key)) {
                EXPECT_EQ(placeholders, 1) << key;
                EXPECT_TRUE(text.contains(QLatin1String("%1"))) << key;
            } else {
                EXPECT_EQ(placeholders, 0) << key << ": " << text.toStdString();
            }
        }
    }
}

TEST(ClientLocalizationTest, EachLanguageNamesItselfAndFillsFormats)
{
    const ClientLocalization& texts = ClientLocalization::bundled();
    EXPECT_EQ(texts.localizedText("language.name", ClientLanguage::korean), QStringLiteral("한국어"));
    EXPECT_EQ(texts.localizedText("language.name", ClientLanguage::english), QStringLiteral("English"));
    EXPECT_NE(texts.localizedText("status.tell_code", ClientLanguage::korean),
              texts.localizedText("status.tell_code", ClientLanguage::english));

    const QString countdown = texts.localizedFormat("status.closing_countdown", ClientLanguage::english, 7);
    EXPECT_TRUE(countdown.contains(QLatin1String("7")));
    EXPECT_FALSE(countdown.contains(QLatin1String("%1")));
    const QString received = texts.localizedFormat("status.file_received", ClientLanguage::korean, "보고서.pdf");
    EXPECT_TRUE(received.contains(QStringLiteral("보고서.pdf")));
}

TEST(ClientLocalizationTest, FallsBackToTheDefaultTextOrTheKey)
{
    // A tables folder with the Korean table only.
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::copy(QStringLiteral(":/i18n/ko.qm"), folder.filePath(QStringLiteral("ko.qm"))));
    const ClientLocalization texts(folder.path());
    ASSERT_TRUE(texts.hasTable(ClientLanguage::korean));
    ASSERT_FALSE(texts.hasTable(ClientLanguage::english));

    struct Case {
        const char* key;
        ClientLanguage language;
        std::optional<QString> defaultText;
        QString expected;
    };
    const QString koreanTellCode = ClientLocalization::bundled().localizedText("status.tell_code", ClientLanguage::korean);
    const Case cases[] = {
        // Missing table: the default, else the key.
        {"status.tell_code", ClientLanguage::english, std::nullopt, QStringLiteral("status.tell_code")},
        {"status.tell_code", ClientLanguage::english, QStringLiteral("Tell the code"), QStringLiteral("Tell the code")},
        // Table present, key missing: the default, else the key.
        {"no.such_key", ClientLanguage::korean, std::nullopt, QStringLiteral("no.such_key")},
        {"no.such_key", ClientLanguage::korean, QStringLiteral("fallback"), QStringLiteral("fallback")},
        // Table present, key present: the table wins over the default.
        {"status.tell_code", ClientLanguage::korean, QStringLiteral("ignored"), koreanTellCode},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(texts.localizedText(c.key, c.language, c.defaultText), c.expected) << c.key;
    }

    const ClientLocalization nothing(folder.filePath(QStringLiteral("absent")));
    EXPECT_EQ(nothing.localizedText("status.ready", ClientLanguage::korean), QStringLiteral("status.ready"));
}
