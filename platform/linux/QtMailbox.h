#pragma once

#include "platform/Task.h"

#include <QObject>

#include <deque>
#include <mutex>

namespace doorwarden {

// Hands work from any thread to the Qt event loop of the thread this object lives on.
//
// The work itself travels through a mutex-guarded queue; only a bare wake-up (a queued call of
// `drain` without arguments) goes through Qt's event queue. Qt's own hand-off is invisible to
// ThreadSanitizer (Qt is not instrumented), so work carried inside Qt events would be reported
// as a race; this way every hand-off the sanitizer must judge is one it can see. Work still
// queued when the mailbox is destroyed is dropped.
class QtMailbox final : public QObject {
    Q_OBJECT

public:
    using Work = Task;

    explicit QtMailbox(QObject* parent = nullptr);
    ~QtMailbox() override;

    // Any thread.
    void post(Work work);

private slots:
    void drain();

private:
    std::mutex mutex_;
    std::deque<Work> queue_;
    bool wakeUpPending_ = false;
};

} // namespace doorwarden
