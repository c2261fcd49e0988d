#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace doorwarden {

// A throw-away certificate authority and a server certificate it signed for 127.0.0.1 and
// localhost, made fresh at each start of the development relay so that nothing secret is kept
// on disk. Both keys are P-256; both certificates are valid from a few minutes ago for one day.
// Clients trust the relay by adding the CA certificate (RelayTlsConfiguration, --ca-file).
class DevelopmentCertificates {
public:
    // Absent when OpenSSL fails; `error` then says where.
    static std::optional<DevelopmentCertificates> generate(QString* error = nullptr);

    // PEM texts. The server key is an unencrypted PKCS#8 private key.
    const QByteArray& caCertificatePem() const { return caCertificatePem_; }
    const QByteArray& serverCertificatePem() const { return serverCertificatePem_; }
    const QByteArray& serverKeyPem() const { return serverKeyPem_; }

    // Writes the CA certificate (only the certificate) to `directory`/ca.pem, making the
    // directory when it is missing. Returns the file's absolute path, or absent with `error`.
    std::optional<QString> writeCaCertificate(const QString& directory, QString* error = nullptr) const;

private:
    DevelopmentCertificates() = default;

    QByteArray caCertificatePem_;
    QByteArray serverCertificatePem_;
    QByteArray serverKeyPem_;
};

} // namespace doorwarden
