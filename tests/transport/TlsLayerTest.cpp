#include "transport/SocketEndpoint.h"
#include "transport/TlsContext.h"

#include "support/LoopbackReceivers.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TlsLoopbackServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>

using namespace std::string_literals;

// The TLS layer of a stream session: its set-up, its handshake, and the
// stream through it beside a plain one.
namespace {
TlsSettings TrustingOurCa()
{
    TlsSettings settings;
    settings.enabled = true;
    settings.caFile = MadeCertificates().caFile;
    return settings;
}

std::shared_ptr<const TlsClientContext> ContextFor(const TlsSettings &settings)
{
    TlsSetupError error;
    auto context = TlsClientContext::Create(settings, error);
    EXPECT_TRUE(context) << error.message;
    return context;
}

// Until the handshake ended either way; plain TCP unless the settings enable TLS.
void ConnectTls(SocketEndpoint &TCP1, const TlsSettings &settings, const std::string &host, quint16 port)
{
    if (settings.enabled)
        TCP1.SetTls(ContextFor(settings));
    TCP1.SetRemoteHost(host);
    TCP1.SetRemotePort(port);
    ASSERT_TRUE(TCP1.Connect());
    EXPECT_TRUE(WaitUntil(
        [&] { return TCP1.State() == SocketEndpoint::StateConnected || TCP1.State() == SocketEndpoint::StateError; }));
}

// A broken pipe must not end the process: the test keeps the default action.
struct DefaultSigpipe {
    DefaultSigpipe() : previous(std::signal(SIGPIPE, SIG_DFL)) {}
    ~DefaultSigpipe() { std::signal(SIGPIPE, previous); }
    void (*previous)(int);
};
} // namespace

TEST(TlsSetup, RefusesFilesItCannotUseBeforeAnyConnection)
{
    QTemporaryDir folder;
    const std::string notPem = folder.filePath("notes.txt").toStdString();
    std::ofstream(notPem) << "not a certificate\n";
    const std::string damaged = folder.filePath("damaged.pem").toStdString();
    std::ofstream(damaged) << "-----BEGIN CERTIFICATE-----\n@@@@\n-----END CERTIFICATE-----\n";
    const std::string missing = folder.filePath("missing.pem").toStdString();
    const std::string dir = folder.path().toStdString();
    const auto &c = MadeCertificates();
    using File = TlsSetupError::File;
    struct Row {
        std::string ca, cert, key;
        File file;
        std::string message;
    };
    const Row rows[] = {
        {missing, "", "", File::CaFile, "cannot read the CA file " + missing + ": No such file or directory"},
        {dir, "", "", File::CaFile, "cannot read the CA file " + dir + ": it is a folder"},
        {notPem, "", "", File::CaFile, "the CA file " + notPem + " holds no PEM certificate"},
        {damaged, "", "", File::CaFile, "the CA file " + damaged + " holds a damaged PEM certificate"},
        {"", c.serverKey, "", File::Certificate, "the certificate " + c.serverKey + " holds no PEM certificate"},
        {"", c.clientCert, missing, File::Key, "cannot read the key " + missing + ": No such file or directory"},
        {"", c.clientCert, c.clientCert, File::Key, "the key " + c.clientCert + " holds no PEM private key"},
        {"", "", c.clientKey, File::Certificate, "the key " + c.clientKey + " was given without its certificate"},
        {"", c.clientCert, c.serverKey, File::Key,
         "the key in " + c.serverKey + " does not match the certificate in " + c.clientCert},
        {c.caFile, c.clientCert, c.clientKey, File::None, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.message);
        TlsSettings settings;
        settings.caFile = row.ca;
        settings.certFile = row.cert;
        settings.keyFile = row.key;
        TlsSetupError error;
        const auto context = TlsClientContext::Create(settings, error);
        EXPECT_EQ(context == nullptr, !row.message.empty());
        EXPECT_EQ(error.file, row.file);
        EXPECT_EQ(error.message, row.message);
    }
}

// Every failure is one ErrorEvent with the reason, ends in state 9 and lets
// nothing count as sent.
TEST(TlsLayer, HandshakeVerifiesTheServerAndSaysWhyItFailed)
{
    const auto &c = MadeCertificates();
    struct Row {
        const char *label;
        std::function<void(TlsLoopbackServer::Options &, TlsSettings &)> change;
        std::string host;
        std::string failure; // empty: the session comes up
    };
    const auto serving = [&c](const std::string &cert) {
        return [&c, cert](TlsLoopbackServer::Options &server, TlsSettings &) {
            server.certFile = cert;
            server.keyFile = c.serverKey;
        };
    };
    const auto requiring = [&c](bool tls12, bool offer) {
        return [&c, tls12, offer](TlsLoopbackServer::Options &server, TlsSettings &client) {
            server.caFile = c.caFile;
            server.requireClientCertificate = true;
            server.tls12Only = tls12;
            if (offer) {
                client.certFile = c.clientCert;
                client.keyFile = c.clientKey;
            }
        };
    };
    const Row rows[] = {
        {"verified by name", {}, "localhost", ""},
        {"verified by IPv4 address", {}, "127.0.0.1", ""},
        {"verified by IPv6 address", [](auto &server, auto &) { server.ipv6 = true; }, "::1", ""},
        {"from an unknown CA", serving(c.foreignCert), "localhost",
         "certificate verify failed: unable to get local issuer certificate"},
        {"checked against the system's CAs", [](auto &, auto &client) { client.caFile.clear(); }, "localhost",
         "certificate verify failed: unable to get local issuer certificate"},
        {"for another name", [](auto &, auto &client) { client.serverName = "wrong.name"; }, "127.0.0.1",
         "certificate verify failed: hostname mismatch (the certificate is not for wrong.name)"},
        {"for another address", [](auto &, auto &client) { client.serverName = "127.0.0.2"; }, "127.0.0.1",
         "certificate verify failed: IP address mismatch (the certificate is not for 127.0.0.2)"},
        {"expired", serving(c.expiredCert), "localhost", "certificate verify failed: certificate has expired"},
        {"unknown CA, not verified on request",
         [&c, &serving](auto &server, auto &client) {
             serving(c.foreignCert)(server, client);
             client.verify = false;
         },
         "localhost", ""},
        {"client certificate required, none offered", requiring(false, false), "localhost",
         "the server requires a client certificate"},
        {"client certificate required by TLS 1.2, none offered", requiring(true, false), "localhost",
         "the server requires a client certificate"},
        {"client certificate required and offered", requiring(false, true), "localhost", ""},
        {"client certificate required by TLS 1.2 and offered", requiring(true, true), "localhost", ""},
        {"TLS 1.3 wanted, the server stops at 1.2",
         [](auto &server, auto &client) {
             server.tls12Only = true;
             client.minVersion = TlsVersion::Tls13;
         },
         "localhost", "no TLS version that both sides accept"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        TlsLoopbackServer::Options serverOptions;
        TlsSettings settings = TrustingOurCa();
        if (row.change)
            row.change(serverOptions, settings);
        TlsLoopbackServer server(serverOptions);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        QSignalSpy states(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy connects(&TCP1, &SocketEndpoint::ConnectEvent);
        ConnectTls(TCP1, settings, row.host, server.Port());
        DeliverQueuedEvents();
        EXPECT_EQ(connects.count(), row.failure.empty() ? 1 : 0) << "up only after the handshake succeeded";
        if (row.failure.empty()) {
            ASSERT_EQ(TCP1.State(), SocketEndpoint::StateConnected);
            EXPECT_EQ(errors.count(), 0);
            EXPECT_EQ(TCP1.NegotiatedTlsVersion(), serverOptions.tls12Only ? "TLSv1.2" : "TLSv1.3");
            EXPECT_FALSE(TCP1.NegotiatedCipher().empty());
            EXPECT_TRUE(TCP1.SendData("<14>over TLS"));
            EXPECT_TRUE(server.WaitForBytes(12));
            EXPECT_EQ(server.Bytes(), "<14>over TLS");
            continue;
        }
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateError);
        ASSERT_EQ(errors.count(), 1);
        EXPECT_EQ(errors.at(0).at(0).toInt(), SocketEndpoint::ErrorTls);
        EXPECT_EQ(errors.at(0).at(1).toString().toStdString(), "TLS handshake failed: " + row.failure);
        EXPECT_TRUE(TCP1.NegotiatedTlsVersion().empty());
        EXPECT_FALSE(TCP1.SendData("<14>lost"));
        EXPECT_EQ(states.count(), 0);
    }
}

// Plain and TLS sessions alike: one ConnectEvent when the session is up,
// then packets one by one and a stream of a megabyte arrive in order; Close
// ends the session (with close_notify over TLS).
TEST(StreamEndpoint, EveryKindOfSendArrivesInOrderPlainOrDecrypted)
{
    std::vector<std::string> batch;
    std::string stream, expected = "<14>first<14>second \x00\xff"s;
    for (int i = 0; i < 3000; ++i)
        expected += batch.emplace_back(NumberedPacket(i, static_cast<std::size_t>(i % 300)));
    for (int i = 0; stream.size() < 1024 * 1024; ++i)
        stream += NumberedPacket(i, 256);
    expected += stream + "<14>last";
    for (const bool tls : {false, true}) {
        for (const std::string host : {"127.0.0.1", "::1", "localhost"}) {
            SCOPED_TRACE(host + (tls ? " over TLS" : " plain"));
            TlsLoopbackServer::Options options;
            options.plain = !tls;
            options.ipv6 = host == "::1";
            TlsLoopbackServer server(options);
            SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
            QSignalSpy connects(&TCP1, &SocketEndpoint::ConnectEvent);
            ConnectTls(TCP1, tls ? TrustingOurCa() : TlsSettings{}, host, server.Port());
            ASSERT_EQ(TCP1.State(), SocketEndpoint::StateConnected);
            DeliverQueuedEvents();
            EXPECT_EQ(connects.count(), 1);
            EXPECT_TRUE(TCP1.SendData("<14>first"));
            EXPECT_TRUE(TCP1.SendData("<14>second \x00\xff"s));
            for (const std::string &packet : batch)
                EXPECT_TRUE(TCP1.SendData(packet));
            EXPECT_TRUE(TCP1.SendStream(stream));
            EXPECT_TRUE(TCP1.SendData(""));
            EXPECT_TRUE(TCP1.SendStream("<14>last"));
            TCP1.Close();
            ASSERT_TRUE(server.WaitForSessionEnd(10000));
            EXPECT_EQ(server.EndText(), "the client ended the session");
            EXPECT_EQ(server.ByteCount(), expected.size());
            EXPECT_TRUE(server.Bytes() == expected);
        }
    }
}

// Encrypted bytes wait their turn behind a full kernel buffer, and all of
// them arrive, in order, once the receiver reads again.
TEST(TlsLayer, HeldReaderGetsEveryAcceptedByteInOrder)
{
    TlsLoopbackServer::Options options;
    options.holdReading = true;
    TlsLoopbackServer server(options);
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    ConnectTls(TCP1, TrustingOurCa(), "127.0.0.1", server.Port());
    ASSERT_EQ(TCP1.State(), SocketEndpoint::StateConnected);
    std::string expected;
    for (int i = 0; i < 4096 && TCP1.PendingBytes() == 0; ++i) {
        expected += NumberedPacket(i, 4096);
        ASSERT_TRUE(TCP1.SendData(expected.substr(expected.size() - 4096)));
    }
    ASSERT_GT(TCP1.PendingBytes(), 0u);
    std::vector<std::string> batch;
    for (int i = 0; i < 100; ++i) {
        batch.push_back(NumberedPacket(10000 + i, 300));
        expected += batch.back();
    }
    for (const std::string &packet : batch)
        EXPECT_TRUE(TCP1.SendData(packet));
    const std::string piece = NumberedPacket(20000, 300 * 1024);
    EXPECT_TRUE(TCP1.SendStream(piece));
    expected += piece;
    EXPECT_LT(TCP1.AcknowledgedBytes(), expected.size());
    server.Release();
    EXPECT_TRUE(TCP1.FlushPending(30000));
    ASSERT_TRUE(server.WaitForBytes(expected.size(), 30000));
    // Of plain bytes, estimated from the records: exact once all are acknowledged.
    EXPECT_TRUE(WaitUntil([&] { return TCP1.AcknowledgedBytes() == expected.size(); }))
        << TCP1.AcknowledgedBytes() << " of " << expected.size() << " acknowledged";
    EXPECT_EQ(server.ByteCount(), expected.size());
    EXPECT_TRUE(server.Bytes() == expected);
}

// The receiver ends the session while packets arrive (it resets it), or
// between them, when the next writes find a broken pipe; plain or TLS.
TEST(StreamEndpoint, PeerCloseMidStreamIsAPeerCloseAndRaisesNoSigpipe)
{
    const DefaultSigpipe defaultAction;
    std::string firstBytes;
    for (int i = 0; i < 128; ++i)
        firstBytes += NumberedPacket(i, 512);
    for (const int run : {0, 1, 2, 3}) {
        const bool betweenPackets = run % 2, tls = run / 2;
        SCOPED_TRACE(std::string(betweenPackets ? "between packets" : "while packets arrive") + (tls ? ", TLS" : ""));
        TlsLoopbackServer::Options options;
        options.plain = !tls;
        options.closeAfter = firstBytes.size();
        TlsLoopbackServer server(options);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        ConnectTls(TCP1, tls ? TrustingOurCa() : TlsSettings{}, "localhost", server.Port());
        ASSERT_EQ(TCP1.State(), SocketEndpoint::StateConnected);
        ASSERT_TRUE(TCP1.SendStream(firstBytes));
        // No events meanwhile: the server's close_notify stays unread, so
        // writing is what finds the session gone.
        if (betweenPackets) {
            ASSERT_TRUE(server.WaitForSessionEnd(5000, false));
        }
        std::string accepted = firstBytes;
        for (int i = 128; i < 100000 && TCP1.State() == SocketEndpoint::StateConnected; ++i) {
            const std::string packet = NumberedPacket(i, 512);
            if (TCP1.SendData(packet) && TCP1.State() == SocketEndpoint::StateConnected)
                accepted += packet;
        }
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StatePeerClosed);
        EXPECT_FALSE(TCP1.SendData("<14>after the close"));
        EXPECT_FALSE(TCP1.SendStream("<14>after the close"));
        ASSERT_TRUE(server.WaitForSessionEnd());
        EXPECT_EQ(server.EndText(), "closed by the server");
        const std::string received = server.Bytes();
        EXPECT_GE(received.size(), firstBytes.size());
        EXPECT_LT(accepted.size(), 100000u * 512u);
        EXPECT_TRUE(accepted.compare(0, received.size(), received) == 0);
        DeliverQueuedEvents();
        EXPECT_EQ(closes.count(), 1);
        EXPECT_EQ(errors.count(), 0);
        TCP1.Close();
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
    }
}

// A plain TCP receiver never answers the handshake: the session stays
// connecting until it is closed, quietly.
TEST(TlsLayer, CloseDuringTheHandshakeRaisesNothing)
{
    TcpReceiver plainReceiver;
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
    QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
    TCP1.SetTls(ContextFor(TrustingOurCa()));
    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(plainReceiver.Port());
    ASSERT_TRUE(TCP1.Connect());
    ASSERT_TRUE(plainReceiver.WaitForBytes(5)) << "the client's hello";
    EXPECT_EQ(TCP1.State(), SocketEndpoint::StateConnecting);
    EXPECT_FALSE(TCP1.SendData("<14>too early"));
    TCP1.Close();
    DeliverQueuedEvents();
    EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(closes.count() + errors.count(), 0);
}
