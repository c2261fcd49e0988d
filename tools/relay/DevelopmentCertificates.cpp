#include "tools/relay/DevelopmentCertificates.h"

#include "relay/crypto/RandomSource.h"

#include <QDir>
#include <QSaveFile>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>

namespace doorwarden {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Extension = std::pair<int, const char*>; // NID and its value in OpenSSL's config syntax

constexpr long validitySeconds = 24 * 60 * 60;
// Starting a little in the past keeps a client whose clock runs slightly behind from refusing.
constexpr long backdateSeconds = 5 * 60;

// The step that failed and OpenSSL's reason, for the one line the relay prints.
bool fail(QString* error, const char* step)
{
    if (error) {
        std::array<char, 256> reason{};
        ERR_error_string_n(ERR_get_error(), reason.data(), reason.size());
        *error = QStringLiteral("%1 failed: %2").arg(QLatin1String(step), QLatin1String(reason.data()));
    }
    ERR_clear_error();
    return false;
}

Key newP256Key()
{
    return Key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), EVP_PKEY_free);
}

bool addExtension(X509* certificate, X509* issuer, const Extension& extension)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* made = X509V3_EXT_conf_nid(nullptr, &context, extension.first, extension.second);
    if (!made) {
        return false;
    }
    const bool added = X509_add_ext(certificate, made, -1) == 1;
    X509_EXTENSION_free(made);
    return added;
}

bool setRandomSerial(X509* certificate)
{
    std::array<std::uint8_t, 16> bytes{};
    RandomSource::system().fill(bytes);
    bytes[0] &= 0x7f; // a positive serial number
    BIGNUM* serial = BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
    const bool set = serial && BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate));
    BN_free(serial);
    return set;
}

bool addNameEntry(X509_NAME* name, const char* field, const char* value)
{
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value),
                                      -1, -1, 0) == 1;
}

// A certificate for `key` named `commonName`, signed by `issuerKey`; self-signed when `issuer`
// is null. The extensions are added in order (the subject key identifier before the
// authority key identifier that refers to it).
Certificate makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                            std::initializer_list<Extension> extensions, QString* error)
{
    Certificate none(nullptr, X509_free);
    Certificate certificate(X509_new(), X509_free);
    if (!certificate || X509_set_version(certificate.get(), X509_VERSION_3) != 1 ||
        !setRandomSerial(certificate.get()) ||
        !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -backdateSeconds) ||
        !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), validitySeconds) ||
        X509_set_pubkey(certificate.get(), key) != 1) {
        fail(error, "certificate set-up");
        return none;
    }
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    if (!addNameEntry(subject, "O", "Doorwarden development") || !addNameEntry(subject, "CN", commonName) ||
        X509_set_issuer_name(certificate.get(), issuer ? X509_get_subject_name(issuer) : subject) != 1) {
        fail(error, "certificate name");
        return none;
    }
    for (const Extension& extension : extensions) {
        if (!addExtension(certificate.get(), issuer ? issuer : certificate.get(), extension)) {
            fail(error, "certificate extension");
            return none;
        }
    }
    if (X509_sign(certificate.get(), issuerKey, EVP_sha256()) <= 0) {
        fail(error, "certificate signature");
        return none;
    }
    return certificate;
}

template <typename Write>
QByteArray pem(Write write)
{
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || write(bio.get()) != 1) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? QByteArray(data, static_cast<qsizetype>(size)) : QByteArray();
}

} // namespace

std::optional<DevelopmentCertificates> DevelopmentCertificates::generate(QString* error)
{
    const Key caKey = newP256Key();
    const Key serverKey = newP256Key();
    if (!caKey || !serverKey) {
        fail(error, "P-256 key generation");
        return std::nullopt;
    }
    const Certificate ca = makeCertificate(caKey.get(), "Doorwarden development CA", nullptr, caKey.get(),
                                           {
                                               {NID_basic_constraints, "critical,CA:TRUE"},
                                               {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                               {NID_subject_key_identifier, "hash"},
                                               {NID_authority_key_identifier, "keyid:always"},
                                           },
                                           error);
    if (!ca) {
        return std::nullopt;
    }
    const Certificate server = makeCertificate(serverKey.get(), "localhost", ca.get(), caKey.get(),
                                               {
                                                   {NID_basic_constraints, "critical,CA:FALSE"},
                                                   {NID_key_usage, "critical,digitalSignature"},
                                                   {NID_ext_key_usage, "serverAuth"},
                                                   {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                                   {NID_subject_key_identifier, "hash"},
                                                   {NID_authority_key_identifier, "keyid:always"},
                                               },
                                               error);
    if (!server) {
        return std::nullopt;
    }

    DevelopmentCertificates certificates;
    certificates.caCertificatePem_ = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()); });
    certificates.serverCertificatePem_ = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, server.get()); });
    certificates.serverKeyPem_ = pem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    if (certificates.caCertificatePem_.isEmpty() || certificates.serverCertificatePem_.isEmpty() ||
        certificates.serverKeyPem_.isEmpty()) {
        fail(error, "PEM encoding");
        return std::nullopt;
    }
    return certificates;
}

std::optional<QString> DevelopmentCertificates::writeCaCertificate(const QString& directory, QString* error) const
{
    const QDir dir(directory);
    QSaveFile file(dir.absoluteFilePath(QStringLiteral("ca.pem")));
    if (!QDir().mkpath(dir.absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(caCertificatePem_) != caCertificatePem_.size() || !file.commit()) {
        if (error) {
            *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        }
        return std::nullopt;
    }
    return file.fileName();
}

} // namespace doorwarden
