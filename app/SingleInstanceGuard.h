#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QString>

#include <memory>

namespace doorwarden {

// One client with windows per user (and state folder). claim() asks, without waiting, whether
// another instance listens on the local socket for the key: if one does, it is asked to bring
// its window forward and this one should exit (`anotherIsRunning`); else this one listens
// (`claimed`) and hears later starts (`activationRequested`). Main thread.
class SingleInstanceGuard : public QObject {
    Q_OBJECT

public:
    // `key` names the instance (the same key: the same instance).
    explicit SingleInstanceGuard(const QString& key, QObject* parent = nullptr);

    // Exactly one of `claimed` and `anotherIsRunning` follows, from the event loop.
    void claim();

signals:
    void claimed();
    void anotherIsRunning();
    // Another start asked this instance to bring its window forward.
    void activationRequested();

private:
    void listen();

    const QString name_;
    QLocalSocket probe_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace doorwarden
