#include "support/TestCertificates.h"

#include <QTemporaryDir>

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <memory>

namespace {
constexpr long Day = 24 * 60 * 60;

struct Made {
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
    Made() = default;
    Made(const Made &) = delete;
    Made &operator=(const Made &) = delete;
    ~Made()
    {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

void Extend(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
    if (!extension)
        std::abort();
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

enum class Kind { Authority, Server, Client };

// issuer null: self-signed. key null: a new key.
void MakeCertificate(Made &made, const char *commonName, Kind kind, const Made *issuer, EVP_PKEY *key, long fromSeconds,
                     long toSeconds)
{
    static long serial = 1;
    made.key = key ? key : EVP_EC_gen("P-256");
    if (key)
        EVP_PKEY_up_ref(key);
    X509 *certificate = made.certificate = X509_new();
    X509_set_version(certificate, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), fromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(certificate), toSeconds);
    X509_set_pubkey(certificate, made.key);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName), -1, -1,
                               0);
    X509 *signer = issuer ? issuer->certificate : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(signer));
    Extend(certificate, signer, NID_subject_key_identifier, "hash");
    Extend(certificate, signer, NID_authority_key_identifier, "keyid");
    switch (kind) {
    case Kind::Authority:
        Extend(certificate, signer, NID_basic_constraints, "critical,CA:TRUE");
        Extend(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
        break;
    case Kind::Server:
        Extend(certificate, signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1");
        Extend(certificate, signer, NID_ext_key_usage, "serverAuth");
        break;
    case Kind::Client:
        Extend(certificate, signer, NID_ext_key_usage, "clientAuth");
        break;
    }
    X509_sign(certificate, issuer ? issuer->key : made.key, EVP_sha256());
}

std::string WriteCertificate(const QTemporaryDir &folder, const char *name, const Made &made)
{
    const std::string path = folder.filePath(QString::fromLatin1(name)).toStdString();
    BIO *file = BIO_new_file(path.c_str(), "w");
    PEM_write_bio_X509(file, made.certificate);
    BIO_free(file);
    return path;
}

std::string WriteKey(const QTemporaryDir &folder, const char *name, const Made &made)
{
    const std::string path = folder.filePath(QString::fromLatin1(name)).toStdString();
    BIO *file = BIO_new_file(path.c_str(), "w");
    PEM_write_bio_PrivateKey(file, made.key, nullptr, nullptr, 0, nullptr, nullptr);
    BIO_free(file);
    return path;
}

TestCertificates Make(const QTemporaryDir &folder)
{
    Made ca, otherCa, server, expired, foreign, client;
    MakeCertificate(ca, "Quillon Test CA", Kind::Authority, nullptr, nullptr, -Day, 30 * Day);
    MakeCertificate(otherCa, "Quillon Other CA", Kind::Authority, nullptr, nullptr, -Day, 30 * Day);
    MakeCertificate(server, "localhost", Kind::Server, &ca, nullptr, -Day, 30 * Day);
    MakeCertificate(expired, "localhost", Kind::Server, &ca, server.key, -3 * Day, -Day);
    MakeCertificate(foreign, "localhost", Kind::Server, &otherCa, server.key, -Day, 30 * Day);
    MakeCertificate(client, "Quillon Test Client", Kind::Client, &ca, nullptr, -Day, 30 * Day);
    TestCertificates made;
    made.caFile = WriteCertificate(folder, "ca.pem", ca);
    made.otherCaFile = WriteCertificate(folder, "other-ca.pem", otherCa);
    made.serverCert = WriteCertificate(folder, "server.pem", server);
    made.serverKey = WriteKey(folder, "server.key", server);
    made.expiredCert = WriteCertificate(folder, "expired.pem", expired);
    made.foreignCert = WriteCertificate(folder, "foreign.pem", foreign);
    made.clientCert = WriteCertificate(folder, "client.pem", client);
    made.clientKey = WriteKey(folder, "client.key", client);
    return made;
}
} // namespace

const TestCertificates &MadeCertificates()
{
    static QTemporaryDir folder;
    static const TestCertificates made = Make(folder);
    return made;
}
