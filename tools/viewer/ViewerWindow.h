#pragma once

#include "viewer/HeadlessViewer.h"
#include "viewer/ViewerPictureView.h"

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace doorwarden {

// The support agent's window on a session that `viewer` runs: the customer's screen, the
// session's state with the verification code, and "End session". Mouse and keyboard over the
// screen go to the customer once the session is encrypted.
//
// Closing the window ends a running session first. When the session is over the window stays,
// showing why, until it is closed; the application then exits with the viewer's exit code.
class ViewerWindow : public QWidget {
    Q_OBJECT

public:
    // `viewer` outlives the window.
    explicit ViewerWindow(HeadlessViewer& viewer, QWidget* parent = nullptr);

    ViewerPictureView& pictureView() { return *picture_; }

signals:
    // The window closed after the viewer finished with `exitCode`.
    void closed(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onStageChanged(HeadlessViewer::Stage stage);
    void onInnerMessage(const RelayMessage& message);
    void onFirstPicture();
    void onFinished(int exitCode);
    void endSession();
    void refreshStatus();

    HeadlessViewer& viewer_;
    ViewerPictureView* picture_;
    QLabel* status_;
    QLabel* details_;
    QPushButton* endButton_;

    HeadlessViewer::Stage stage_ = HeadlessViewer::Stage::connecting;
    QString verificationCode_;
    QString screen_;    // the client's screen, from its "screen_info"
    QString lastError_;
    bool hasPicture_ = false;
    bool endRequested_ = false;
    bool finished_ = false;
    bool closeWhenFinished_ = false;
    int exitCode_ = 0;
};

} // namespace doorwarden
