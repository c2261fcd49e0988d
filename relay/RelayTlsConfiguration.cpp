#include "relay/RelayTlsConfiguration.h"

#include <QSslCertificate>

namespace doorwarden {

std::optional<QSslConfiguration> RelayTlsConfiguration::make(const QString& extraCaFile, QString* error)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    if (extraCaFile.isEmpty()) {
        return configuration;
    }
    const auto certificates = QSslCertificate::fromPath(extraCaFile, QSsl::Pem);
    if (certificates.isEmpty()) {
        if (error) {
            *error = QStringLiteral("no PEM certificate could be read from %1").arg(extraCaFile);
        }
        return std::nullopt;
    }
    auto authorities = configuration.caCertificates();
    authorities += certificates;
    configuration.setCaCertificates(authorities);
    return configuration;
}

} // namespace doorwarden
