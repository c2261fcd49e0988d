#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <memory>

namespace doorwarden {

// One client with windows per user (and state folder): the first start listens on a local
// socket; a later start finds it, asks it to bring its window forward, and should exit.
class SingleInstanceGuard : public QObject {
    Q_OBJECT

public:
    // `key` names the instance (the same key: the same instance).
    explicit SingleInstanceGuard(const QString& key, QObject* parent = nullptr);

    // True when another instance answered and was asked to come forward; this one should exit.
    bool isSecondary() const { return secondary_; }

signals:
    // Another start asked this instance to bring its window forward.
    void activationRequested();

private:
    std::unique_ptr<QLocalServer> server_;
    bool secondary_ = false;
};

} // namespace doorwarden
