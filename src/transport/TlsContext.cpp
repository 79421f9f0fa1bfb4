#include "transport/TlsContext.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {
// A PEM file of certificates and a key is a few kilobytes; this only stops a
// wrong file of gigabytes from being read.
constexpr std::size_t PemSizeLimit = 1024 * 1024;

using File = TlsSetupError::File;

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct ContextFree {
    void operator()(SSL_CTX *c) const { SSL_CTX_free(c); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using ContextPtr = std::unique_ptr<SSL_CTX, ContextFree>;

const char *FileWord(File file)
{
    switch (file) {
    case File::CaFile:
        return "CA file";
    case File::Certificate:
        return "certificate";
    case File::Key:
        return "key";
    case File::None:
        break;
    }
    return "file";
}

bool Refuse(TlsSetupError &error, File file, std::string message)
{
    error.file = file;
    error.message = std::move(message);
    ERR_clear_error();
    return false;
}

// Read with a bound rather than trusting the size the system reports:
// /dev/zero and other devices report none and never end.
bool ReadPemFile(const std::string &path, File file, std::string &contents, TlsSetupError &error)
{
    const std::string what = std::string("the ") + FileWord(file) + " " + path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Refuse(error, file, "cannot read " + what + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Refuse(error, file, "cannot read " + what + ": it is a folder");
    }
    contents.clear();
    char buffer[65536];
    int reason = 0;
    while (contents.size() <= PemSizeLimit) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            reason = errno;
        if (got <= 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (reason != 0)
        return Refuse(error, file, "cannot read " + what + ": " + std::strerror(reason));
    if (contents.size() > PemSizeLimit)
        return Refuse(error, file, what + " is larger than 1 MiB, too large for a PEM file");
    return true;
}

// Every certificate in the text, in order; false for a damaged block.
bool ParseCertificates(const std::string &pem, std::vector<X509Ptr> &certificates)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    ERR_clear_error();
    while (X509 *certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        certificates.emplace_back(certificate);
    const unsigned long last = ERR_peek_last_error();
    const bool clean = ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
    ERR_clear_error();
    return clean;
}

bool LoadCertificates(const std::string &path, File file, std::vector<X509Ptr> &certificates, TlsSetupError &error)
{
    std::string pem;
    if (!ReadPemFile(path, file, pem, error))
        return false;
    const std::string what = std::string("the ") + FileWord(file) + " " + path;
    if (!ParseCertificates(pem, certificates))
        return Refuse(error, file, what + " holds a damaged PEM certificate");
    if (certificates.empty())
        return Refuse(error, file, what + " holds no PEM certificate");
    return true;
}

// Never asks for a passphrase on the terminal.
int NoPassphrase(char *, int, int, void *)
{
    return 0;
}

bool LoadKey(const std::string &path, KeyPtr &key, TlsSetupError &error)
{
    std::string pem;
    if (!ReadPemFile(path, File::Key, pem, error))
        return false;
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr));
    if (key)
        return true;
    if (pem.find("ENCRYPTED") != std::string::npos)
        return Refuse(error, File::Key, "the key " + path + " is protected by a passphrase, which is not supported");
    return Refuse(error, File::Key, "the key " + path + " holds no PEM private key");
}

// Everything read from the files, checked before a context is made.
struct LoadedFiles {
    std::vector<X509Ptr> authorities;
    std::vector<X509Ptr> chain; // the certificate, then its chain
    KeyPtr key;

    bool Load(const std::string &caFile, const std::string &certFile, const std::string &keyFile, TlsSetupError &error)
    {
        if (!caFile.empty() && !LoadCertificates(caFile, File::CaFile, authorities, error))
            return false;
        if (certFile.empty())
            return true;
        if (!LoadCertificates(certFile, File::Certificate, chain, error))
            return false;
        const std::string &keyPath = keyFile.empty() ? certFile : keyFile;
        if (!LoadKey(keyPath, key, error))
            return false;
        if (X509_check_private_key(chain.front().get(), key.get()) != 1)
            return Refuse(error, File::Key, "the key in " + keyPath + " does not match the certificate in " + certFile);
        return true;
    }

    bool Apply(SSL_CTX *context, bool listForClients, const std::string &certFile, TlsSetupError &error) const
    {
        X509_STORE *store = SSL_CTX_get_cert_store(context);
        for (const X509Ptr &authority : authorities) {
            X509_STORE_add_cert(store, authority.get());
            if (listForClients)
                SSL_CTX_add_client_CA(context, authority.get());
        }
        if (!chain.empty()) {
            if (SSL_CTX_use_certificate(context, chain.front().get()) != 1 ||
                SSL_CTX_use_PrivateKey(context, key.get()) != 1)
                return Refuse(error, File::Certificate,
                              "the certificate in " + certFile +
                                  " cannot be used: " + ERR_reason_error_string(ERR_peek_last_error()));
            for (std::size_t i = 1; i < chain.size(); ++i)
                SSL_CTX_add1_chain_cert(context, chain[i].get());
        }
        ERR_clear_error();
        return true;
    }
};

ContextPtr NewContext(const SSL_METHOD *method, TlsVersion minVersion)
{
    ContextPtr context(SSL_CTX_new(method));
    if (!context)
        return context;
    SSL_CTX_set_min_proto_version(context.get(), minVersion == TlsVersion::Tls13 ? TLS1_3_VERSION : TLS1_2_VERSION);
    // A sender has no use for renegotiation, and refusing it keeps writes
    // from ever having to wait for a read.
    SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
}
} // namespace

TlsClientContext::TlsClientContext(ssl_ctx_st *context, TlsSettings settings)
    : m_context(context), m_settings(std::move(settings))
{}

TlsClientContext::~TlsClientContext()
{
    SSL_CTX_free(m_context);
}

std::shared_ptr<const TlsClientContext> TlsClientContext::Create(const TlsSettings &settings, TlsSetupError &error)
{
    error = {};
    if (settings.certFile.empty() && !settings.keyFile.empty()) {
        Refuse(error, File::Certificate, "the key " + settings.keyFile + " was given without its certificate");
        return nullptr;
    }
    LoadedFiles files;
    if (!files.Load(settings.caFile, settings.certFile, settings.keyFile, error))
        return nullptr;
    ContextPtr context = NewContext(TLS_client_method(), settings.minVersion);
    if (!context) {
        Refuse(error, File::None, "TLS is not available");
        return nullptr;
    }
    SSL_CTX_set_verify(context.get(), settings.verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (settings.caFile.empty() && settings.verify)
        SSL_CTX_set_default_verify_paths(context.get());
    if (!files.Apply(context.get(), false, settings.certFile, error))
        return nullptr;
    return std::shared_ptr<const TlsClientContext>(new TlsClientContext(context.release(), settings));
}

TlsServerContext::TlsServerContext(ssl_ctx_st *context, TlsServerSettings settings)
    : m_context(context), m_settings(std::move(settings))
{}

TlsServerContext::~TlsServerContext()
{
    SSL_CTX_free(m_context);
}

std::shared_ptr<const TlsServerContext> TlsServerContext::Create(const TlsServerSettings &settings,
                                                                 TlsSetupError &error)
{
    error = {};
    if (settings.certFile.empty()) {
        Refuse(error, File::Certificate, "a TLS receiver needs a certificate");
        return nullptr;
    }
    if (settings.requireClientCertificate && settings.caFile.empty()) {
        Refuse(error, File::CaFile, "requiring client certificates needs a CA file to check them against");
        return nullptr;
    }
    LoadedFiles files;
    if (!files.Load(settings.caFile, settings.certFile, settings.keyFile, error))
        return nullptr;
    ContextPtr context = NewContext(TLS_server_method(), settings.minVersion);
    if (!context) {
        Refuse(error, File::None, "TLS is not available");
        return nullptr;
    }
    if (!files.Apply(context.get(), true, settings.certFile, error))
        return nullptr;
    if (!settings.caFile.empty()) {
        // Client certificates are asked for whenever there are CAs to check
        // them against, and without one the handshake fails when required.
        SSL_CTX_set_verify(context.get(),
                           SSL_VERIFY_PEER | (settings.requireClientCertificate ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0),
                           nullptr);
        // Resumed sessions of verified clients need an id context.
        static const unsigned char id[] = "quillon";
        SSL_CTX_set_session_id_context(context.get(), id, sizeof id - 1);
    }
    return std::shared_ptr<const TlsServerContext>(new TlsServerContext(context.release(), settings));
}

void ReleaseTlsThreadState()
{
    OPENSSL_thread_stop();
}
