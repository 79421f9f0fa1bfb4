#include "cli/recv/RecvProcess.h"
#include "common/Clock.h"
#include "engine/Framing.h"
#include "engine/Stamp.h"
#include "support/TestCertificates.h"
#include "transport/TlsConnection.h"
#include "transport/TlsContext.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {
// A TLS client on a blocking loopback socket.
class TlsClient {
public:
    TlsClient(int port, int family, bool withCertificate)
    {
        const TestCertificates &certs = MadeCertificates();
        TlsSettings settings;
        settings.enabled = true;
        settings.caFile = certs.caFile;
        if (withCertificate) {
            settings.certFile = certs.clientCert;
            settings.keyFile = certs.clientKey;
        }
        TlsSetupError error;
        m_context = TlsClientContext::Create(settings, error);
        EXPECT_TRUE(m_context) << error.message;
        m_fd = Connect(port, family);
        m_tls = std::make_unique<TlsConnection>(*m_context, m_fd, m_outgoing, family == AF_INET6 ? "::1" : "127.0.0.1");
    }
    ~TlsClient()
    {
        m_tls->Shutdown();
        SendOut();
        m_tls.reset();
        ::close(m_fd);
    }

    bool Handshake()
    {
        for (;;) {
            const TlsConnection::Result result = m_tls->Handshake();
            SendOut();
            if (result != TlsConnection::Result::WantRead)
                return result == TlsConnection::Result::Done;
            pollfd entry{m_fd, POLLIN, 0};
            if (::poll(&entry, 1, 10000) <= 0)
                return false;
        }
    }
    void Send(const std::string &plain)
    {
        EXPECT_TRUE(m_tls->Write(plain));
        SendOut();
    }
    int Fd() const { return m_fd; }

private:
    void SendOut()
    {
        if (!m_outgoing.empty())
            ::send(m_fd, m_outgoing.data(), m_outgoing.size(), MSG_NOSIGNAL);
        m_outgoing.clear();
    }

    std::shared_ptr<const TlsClientContext> m_context;
    int m_fd = -1;
    std::string m_outgoing;
    std::unique_ptr<TlsConnection> m_tls;
};

std::string Stamped(bool rfc5424, std::uint64_t seq)
{
    const Stamp stamp{"tls", StreamId(0, 1), seq, SystemClock().EpochMicroseconds()};
    std::string message = rfc5424 ? "<13>1 2024-01-01T00:00:00Z host app - - " : "<13>Jan  1 00:00:00 host tag: text";
    if (rfc5424) {
        AppendStampElement(message, stamp);
        message += " text";
    } else {
        AppendStampToken(message, stamp);
    }
    std::string framed;
    AppendFramed(framed, rfc5424 ? Framing::OctetCount : Framing::Lf, message);
    return framed;
}

// One stream over two TLS sessions one after the other (octet-counted RFC
// 5424, then LF-framed RFC 3164), while a client stalls in its handshake, one
// speaks plain TCP, and (with client certificates required) one offers none:
// each failure is counted and the stream arrives whole.
TEST(TlsReceive, FailedHandshakesAreCountedAndTheStreamGoesOn)
{
    const TestCertificates &certs = MadeCertificates();
    for (const bool requireCertificate : {false, true}) {
        const int family = requireCertificate ? AF_INET6 : AF_INET;
        std::vector<std::string> args = {"--listen",
                                         "tls",
                                         "--bind",
                                         family == AF_INET6 ? "::1" : "127.0.0.1",
                                         "--port",
                                         "0",
                                         "--cert",
                                         certs.serverCert,
                                         "--key",
                                         certs.serverKey,
                                         "--handshake-timeout",
                                         "0.3",
                                         "--expect",
                                         "40",
                                         "--idle",
                                         "10",
                                         "--json"};
        if (requireCertificate)
            args.insert(args.end(), {"--ca-file", certs.caFile, "--require-client-cert"});
        Receiver receiver(args);
        const int stalled = Connect(receiver.Port(), family);
        const int plain = Connect(receiver.Port(), family);
        Write(plain, "<13>not a TLS client\n");
        EXPECT_TRUE(ClosedByPeer(plain));
        EXPECT_TRUE(ClosedByPeer(stalled));
        if (requireCertificate) {
            TlsClient anonymous(receiver.Port(), family, false);
            anonymous.Handshake(); // TLS 1.3: the verdict comes after the client's handshake
            anonymous.Send(Stamped(true, 1000));
            EXPECT_TRUE(ClosedByPeer(anonymous.Fd()));
        }
        for (const bool rfc5424 : {true, false}) {
            TlsClient client(receiver.Port(), family, requireCertificate);
            ASSERT_TRUE(client.Handshake());
            std::string bytes;
            for (std::uint64_t seq = rfc5424 ? 1 : 21; seq <= (rfc5424 ? 20u : 40u); ++seq)
                bytes += Stamped(rfc5424, seq);
            client.Send(bytes);
        }
        const Outcome outcome = receiver.Finish();
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err << outcome.out;
        const QJsonObject &json = outcome.json;
        EXPECT_EQ(Figure(json, "received"), 40u);
        EXPECT_EQ(Figure(json, "lost") + Figure(json, "duplicates") + Figure(json, "reordered"), 0u);
        EXPECT_EQ(json["streams"].toArray().size(), 1);
        EXPECT_EQ(Figure(json, "tls_handshakes"), 2u);
        EXPECT_EQ(Figure(json, "tls_failed"), requireCertificate ? 3u : 2u);
        EXPECT_EQ(Figure(json, "tls_timeouts"), 1u);
        EXPECT_EQ(Figure(json, "connections"), requireCertificate ? 5u : 4u);
        EXPECT_EQ(json.value("source").toString().toStdString().rfind("tls ", 0), 0u);
        const std::string last = json.value("tls_last_failure").toString().toStdString();
        EXPECT_NE(last.find(requireCertificate ? "certificate" : "did not finish within 300 ms"), std::string::npos)
            << last;
        for (const int fd : {stalled, plain})
            ::close(fd);
    }
}
} // namespace
