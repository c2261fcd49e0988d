#pragma once

#include <QMetaType>
#include <QString>

namespace doorwarden {

// A viewer that holds the session's key and proved it: the customer compares its verification
// code with the one on the agent's screen. The name is what the relay called the viewer, so it
// is a label, not a proof.
struct ClientVerifiedViewer {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString verificationCode MEMBER verificationCode)

public:
    QString id;
    QString name;
    QString verificationCode;

    bool operator==(const ClientVerifiedViewer&) const = default;
};

} // namespace doorwarden

Q_DECLARE_METATYPE(doorwarden::ClientVerifiedViewer)
