#pragma once

#include "core/ClientModel.h"
#include "localization/ClientLocalization.h"
#include "ui/ClientCodeKeyView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QWidget>

#include <functional>
#include <string_view>

namespace doorwarden {

// The main window's content: before a session the six-box code entry with what the client
// needs, during one the session's status and verification codes, and after the viewer ended
// support the ending screen with its countdown. It reads the model and calls its operations;
// it keeps only the code entry's active box and focus.
class ContentView : public QWidget {
    Q_OBJECT

public:
    struct Options {
        // Opens the folder of the login item (the "open settings" of its notice).
        std::function<void()> openLoginItemSettings;
    };

    ContentView(ClientModel& model, const ClientLocalization& texts, Options options, QWidget* parent = nullptr);

    // The window's height for the model's state at 480 wide (at least what the layout needs).
    int preferredHeight() const;

    int activeCodeIndex() const { return activeCodeIndex_; }
    ClientCodeKeyView& codeView() { return *codeView_; }
    QPushButton& primaryButton() { return *primaryButton_; }

signals:
    // The preferred height may have changed.
    void layoutChanged();

private:
    QWidget* buildForm();
    QWidget* buildEnding();
    QString text(std::string_view key) const;
    void retranslate();
    void refresh();
    void showPage(QWidget* page);

    // The code entry's requests.
    void onDigit(char32_t digit);
    void onBackspace();
    void onDelete();
    void onMove(ClientCodeMovement movement);
    void onPaste(const QString& text);
    void onSubmit();
    void setActiveCodeIndex(int index);

    ClientModel& model_;
    const ClientLocalization& texts_;
    Options options_;
    int activeCodeIndex_ = 0;

    QStackedLayout* pages_ = nullptr;
    QWidget* form_ = nullptr;
    QWidget* ending_ = nullptr;

    // The form.
    QLabel* verificationBox_ = nullptr;
    QLabel* verificationLabel_ = nullptr;
    QLabel* verificationCodes_ = nullptr;
    QWidget* verification_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    ClientCodeKeyView* codeView_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* primaryButton_ = nullptr;
    QCheckBox* viewOnly_ = nullptr;
    QCheckBox* recordingConsent_ = nullptr;
    QCheckBox* callConsent_ = nullptr;
    QWidget* permissions_ = nullptr;
    QLabel* permissionsText_ = nullptr;
    QPushButton* screenButton_ = nullptr;
    QPushButton* inputButton_ = nullptr;
    QLabel* permissionHelp_ = nullptr;
    QWidget* loginItem_ = nullptr;
    QLabel* loginItemText_ = nullptr;
    QPushButton* loginItemButton_ = nullptr;
    QLabel* languageLabel_ = nullptr;
    QComboBox* language_ = nullptr;

    // The ending screen.
    QLabel* endingIcon_ = nullptr;
    QLabel* endingTitle_ = nullptr;
    QLabel* endingNotice_ = nullptr;
    QPushButton* reconnectButton_ = nullptr;
    QLabel* endingHint_ = nullptr;
    QLabel* endingStatus_ = nullptr;
};

} // namespace doorwarden
