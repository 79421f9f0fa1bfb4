#include "transport/TlsConnection.h"

#include "transport/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {
// The socket end of a session: reads come from the socket, writes go to the
// owner's buffer.
struct Channel {
    int fd = -1;
    std::string *outgoing = nullptr;
    bool ended = false; // the peer's end of stream was read
    int error = 0;      // a failed read's errno
};

Channel &ChannelOf(BIO *bio)
{
    return *static_cast<Channel *>(BIO_get_data(bio));
}

int ChannelWrite(BIO *bio, const char *data, std::size_t size, std::size_t *written)
{
    BIO_clear_retry_flags(bio);
    ChannelOf(bio).outgoing->append(data, size);
    *written = size;
    return 1;
}

int ChannelRead(BIO *bio, char *data, std::size_t size, std::size_t *got)
{
    BIO_clear_retry_flags(bio);
    Channel &channel = ChannelOf(bio);
    *got = 0;
    for (;;) {
        const ssize_t received = ::recv(channel.fd, data, size, MSG_DONTWAIT);
        if (received > 0) {
            *got = static_cast<std::size_t>(received);
            return 1;
        }
        if (received == 0) {
            channel.ended = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        else
            channel.error = errno;
        return 0;
    }
}

long ChannelControl(BIO *bio, int command, long, void *)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return ChannelOf(bio).ended ? 1 : 0;
    default:
        return 0;
    }
}

int ChannelCreate(BIO *bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

struct MethodFree {
    void operator()(BIO_METHOD *method) const { BIO_meth_free(method); }
};

BIO_METHOD *ChannelMethod()
{
    static const std::unique_ptr<BIO_METHOD, MethodFree> method = [] {
        BIO_METHOD *made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quillon socket channel");
        BIO_meth_set_write_ex(made, ChannelWrite);
        BIO_meth_set_read_ex(made, ChannelRead);
        BIO_meth_set_ctrl(made, ChannelControl);
        BIO_meth_set_create(made, ChannelCreate);
        return std::unique_ptr<BIO_METHOD, MethodFree>(made);
    }();
    return method.get();
}

// Without brackets, a zone or a final dot, as certificates and SNI write it.
std::string PlainName(std::string name)
{
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    return name;
}

bool IsAddress(const std::string &name)
{
    unsigned char bytes[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, name.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, name.c_str(), bytes) == 1;
}

// The first error OpenSSL queued: the cause, before what it led to.
unsigned long FirstError()
{
    return ERR_peek_error();
}

bool IsSslReason(unsigned long error, int reason)
{
    return ERR_GET_LIB(error) == ERR_LIB_SSL && ERR_GET_REASON(error) == reason;
}
} // namespace

struct TlsConnection::Impl {
    Impl(SSL_CTX *context, int fd, std::string &outgoing, bool server);
    ~Impl() { SSL_free(m_ssl); }

    static void OnMessage(int writing, int, int contentType, const void *data, std::size_t length, SSL *, void *self);
    std::string Reason(int sslError) const;
    std::string VerifyText(long verify) const;
    std::string AlertText(int alert) const;
    std::string PeerWord() const { return m_server ? "the client" : "the server"; }
    TlsConnection::Result Failure(int sslError);

    SSL *m_ssl = nullptr;
    Channel m_channel;
    bool m_server;
    bool m_offersCertificate = false;
    std::string m_checkedName;
    bool m_handshakeDone = false;
    bool m_certificateRequested = false;
    bool m_heardAfterHandshake = false;
    std::string m_failure;
};

TlsConnection::Impl::Impl(SSL_CTX *context, int fd, std::string &outgoing, bool server)
    : m_ssl(SSL_new(context)), m_server(server)
{
    m_channel.fd = fd;
    m_channel.outgoing = &outgoing;
    BIO *bio = BIO_new(ChannelMethod());
    BIO_set_data(bio, &m_channel);
    SSL_set_bio(m_ssl, bio, bio);
    SSL_set_msg_callback(m_ssl, OnMessage);
    SSL_set_msg_callback_arg(m_ssl, this);
    if (server) {
        SSL_set_accept_state(m_ssl);
    } else {
        // A sender reads nothing it could lose to a cut stream.
        SSL_set_options(m_ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
        SSL_set_connect_state(m_ssl);
    }
}

// Notes what the peer says about certificates, and that it spoke at all
// after the handshake.
void TlsConnection::Impl::OnMessage(int writing, int, int contentType, const void *data, std::size_t length, SSL *,
                                    void *self)
{
    auto &impl = *static_cast<Impl *>(self);
    if (writing || length == 0)
        return;
    if (contentType != SSL3_RT_HANDSHAKE && contentType != SSL3_RT_ALERT)
        return;
    if (impl.m_handshakeDone)
        impl.m_heardAfterHandshake = true;
    else if (contentType == SSL3_RT_HANDSHAKE &&
             *static_cast<const unsigned char *>(data) == SSL3_MT_CERTIFICATE_REQUEST)
        impl.m_certificateRequested = true;
}

std::string TlsConnection::Impl::VerifyText(long verify) const
{
    std::string text = std::string(m_server ? "client certificate verify failed: " : "certificate verify failed: ") +
                       X509_verify_cert_error_string(verify);
    if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH)
        text += " (the certificate is not for " + m_checkedName + ")";
    return text;
}

std::string TlsConnection::Impl::AlertText(int alert) const
{
    const bool requested = !m_server && m_certificateRequested;
    switch (alert) {
    case SSL_AD_CERTIFICATE_REQUIRED:
        return "the server requires a client certificate";
    case SSL_AD_HANDSHAKE_FAILURE:
        if (requested && !m_offersCertificate)
            return "the server requires a client certificate";
        break;
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
    case SSL_AD_CERTIFICATE_REVOKED:
    case SSL_AD_CERTIFICATE_EXPIRED:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_UNKNOWN_CA:
    case SSL_AD_ACCESS_DENIED:
        if (requested && m_offersCertificate)
            return std::string("the server rejected the client certificate (") + SSL_alert_desc_string_long(alert) +
                   ")";
        break;
    case SSL_AD_PROTOCOL_VERSION:
        return "no TLS version that both sides accept";
    default:
        break;
    }
    return PeerWord() + " refused the session with the alert \"" + SSL_alert_desc_string_long(alert) + "\"";
}

std::string TlsConnection::Impl::Reason(int sslError) const
{
    const unsigned long error = FirstError();
    const long verify = SSL_get_verify_result(m_ssl);
    if (IsSslReason(error, SSL_R_CERTIFICATE_VERIFY_FAILED) && verify != X509_V_OK)
        return VerifyText(verify);
    const int reason = ERR_GET_REASON(error);
    if (ERR_GET_LIB(error) == ERR_LIB_SSL && reason > SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256)
        return AlertText(reason - SSL_AD_REASON_OFFSET);
    const std::string when = m_handshakeDone ? "" : " during the handshake";
    if (m_channel.error != 0)
        return "the connection failed" + when + ": " + std::strerror(m_channel.error);
    if (sslError == SSL_ERROR_ZERO_RETURN && !m_channel.ended)
        return PeerWord() + " ended the session" + when;
    if (m_channel.ended || sslError == SSL_ERROR_ZERO_RETURN)
        return PeerWord() + " closed the connection" + when;
    if (IsSslReason(error, SSL_R_WRONG_VERSION_NUMBER) || IsSslReason(error, SSL_R_PACKET_LENGTH_TOO_LONG) ||
        IsSslReason(error, SSL_R_HTTP_REQUEST))
        return PeerWord() + " does not speak TLS (" + ERR_reason_error_string(error) + ")";
    if (IsSslReason(error, SSL_R_UNSUPPORTED_PROTOCOL) || IsSslReason(error, SSL_R_NO_PROTOCOLS_AVAILABLE))
        return "no TLS version that both sides accept";
    if (IsSslReason(error, SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE))
        return "the client sent no certificate";
    if (error != 0 && ERR_reason_error_string(error))
        return ERR_reason_error_string(error);
    return "TLS error " + std::to_string(sslError);
}

TlsConnection::Result TlsConnection::Impl::Failure(int sslError)
{
    m_failure = Reason(sslError);
    ERR_clear_error();
    return Result::Failed;
}

TlsConnection::TlsConnection(const TlsClientContext &context, int fd, std::string &outgoing, const std::string &host)
    : d(std::make_unique<Impl>(context.Native(), fd, outgoing, false))
{
    const TlsSettings &settings = context.Settings();
    d->m_offersCertificate = context.HasClientCertificate();
    d->m_checkedName = PlainName(settings.serverName.empty() ? host : settings.serverName);
    std::string address = d->m_checkedName.substr(0, d->m_checkedName.find('%'));
    const bool isAddress = IsAddress(address);
    if (settings.verify) {
        if (isAddress)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(d->m_ssl), address.c_str());
        else
            SSL_set1_host(d->m_ssl, d->m_checkedName.c_str());
    }
    // Names only: an address in SNI is not allowed.
    if (!isAddress && !d->m_checkedName.empty())
        SSL_set_tlsext_host_name(d->m_ssl, d->m_checkedName.c_str());
}

TlsConnection::TlsConnection(const TlsServerContext &context, int fd, std::string &outgoing)
    : d(std::make_unique<Impl>(context.Native(), fd, outgoing, true))
{}

TlsConnection::~TlsConnection() = default;

TlsConnection::Result TlsConnection::Handshake()
{
    ERR_clear_error();
    const int result = SSL_do_handshake(d->m_ssl);
    if (result == 1) {
        d->m_handshakeDone = true;
        return Result::Done;
    }
    const int error = SSL_get_error(d->m_ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return Result::WantRead;
    return d->Failure(error);
}

bool TlsConnection::Write(std::string_view plain)
{
    if (plain.empty())
        return true;
    ERR_clear_error();
    std::size_t written = 0;
    // The channel never blocks, so one call takes all the bytes.
    const int result = SSL_write_ex(d->m_ssl, plain.data(), plain.size(), &written);
    if (result == 1 && written == plain.size())
        return true;
    d->Failure(SSL_get_error(d->m_ssl, result));
    return false;
}

TlsConnection::Result TlsConnection::Read(char *buffer, std::size_t size, std::size_t &got)
{
    got = 0;
    ERR_clear_error();
    if (SSL_read_ex(d->m_ssl, buffer, size, &got) == 1) {
        d->m_heardAfterHandshake = true;
        return Result::Done;
    }
    const int error = SSL_get_error(d->m_ssl, 0);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return Result::WantRead;
    const unsigned long queued = FirstError();
    const bool peerAlert = ERR_GET_LIB(queued) == ERR_LIB_SSL && ERR_GET_REASON(queued) > SSL_AD_REASON_OFFSET;
    if (error == SSL_ERROR_ZERO_RETURN || (!peerAlert && (d->m_channel.ended || d->m_channel.error != 0))) {
        d->m_failure = d->Reason(error);
        ERR_clear_error();
        return Result::Closed;
    }
    return d->Failure(error);
}

void TlsConnection::Shutdown()
{
    if (!d->m_handshakeDone)
        return;
    ERR_clear_error();
    SSL_shutdown(d->m_ssl);
    ERR_clear_error();
}

const std::string &TlsConnection::FailureText() const
{
    return d->m_failure;
}

int TlsConnection::SocketError() const
{
    return d->m_channel.error;
}

bool TlsConnection::AwaitingVerdict() const
{
    return !d->m_server && d->m_handshakeDone && d->m_certificateRequested && !d->m_heardAfterHandshake &&
           SSL_version(d->m_ssl) == TLS1_3_VERSION;
}

std::string TlsConnection::Version() const
{
    return d->m_handshakeDone ? SSL_get_version(d->m_ssl) : "";
}

std::string TlsConnection::Cipher() const
{
    const char *name = d->m_handshakeDone ? SSL_get_cipher_name(d->m_ssl) : nullptr;
    return name ? name : "";
}
