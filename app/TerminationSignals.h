#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace doorwarden {

// Turns SIGINT and SIGTERM into a Qt signal on the main thread (through a self-pipe), so the
// client can end its session properly instead of dying mid-session. One instance per process.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace doorwarden
