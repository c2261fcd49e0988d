#pragma once

#include <QSslConfiguration>
#include <QString>

#include <optional>

namespace doorwarden {

// TLS settings for connections to a relay: the system's trusted CAs, plus one extra CA from a
// PEM file when given (development relays and tests). Certificates are always verified.
class RelayTlsConfiguration {
public:
    // Absent when `extraCaFile` is given but holds no readable PEM certificate; `error` then
    // says why.
    static std::optional<QSslConfiguration> make(const QString& extraCaFile, QString* error = nullptr);
};

} // namespace doorwarden
