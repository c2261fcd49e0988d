#pragma once

#include <QMetaType>
#include <QString>

namespace doorwarden {

// Where the client stands with its support session. `failed` carries why: "relay_disconnected"
// or "recovery_expired".
class ClientConnectionState {
    Q_GADGET
    Q_PROPERTY(Kind kind READ kind)
    Q_PROPERTY(QString failureReason READ failureReason)

public:
    enum class Kind {
        idle,
        checkingPermissions, // never entered; grouped with idle and ready
        ready,
        connecting,
        waitingForViewer,
        supporting,
        ending,
        viewerEnding,
        failed,
    };
    Q_ENUM(Kind)

    ClientConnectionState(Kind kind = Kind::idle) // NOLINT: a state is spelled by its kind
        : kind_(kind)
    {
    }
    static ClientConnectionState failedBecause(QString reason) { return {Kind::failed, std::move(reason)}; }

    Kind kind() const { return kind_; }
    QString failureReason() const { return failureReason_; }

    // No session and none on the way: idle, checkingPermissions or ready.
    bool isQuiet() const { return kind_ == Kind::idle || kind_ == Kind::checkingPermissions || kind_ == Kind::ready; }

    // "connecting", "failed(recovery_expired)".
    QString name() const;

    bool operator==(const ClientConnectionState&) const = default;

private:
    ClientConnectionState(Kind kind, QString reason)
        : kind_(kind)
        , failureReason_(std::move(reason))
    {
    }

    Kind kind_;
    QString failureReason_;
};

} // namespace doorwarden

Q_DECLARE_METATYPE(doorwarden::ClientConnectionState)
