#include "cli/recv/RecvProcess.h"
#include "support/TestCertificates.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);

bool Has(const std::vector<std::string> &args, const char *flag)
{
    return std::find(args.begin(), args.end(), flag) != args.end();
}

// A client that finishes its handshake, then sends bytes that are no TLS record.
void HandshakeThenJunk(int port)
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    SSL *session = SSL_new(context);
    const int fd = Connect(port, AF_INET6);
    SSL_set_fd(session, fd);
    EXPECT_EQ(SSL_connect(session), 1);
    Write(fd, "<13>not a record\n");
    EXPECT_TRUE(ClosedByPeer(fd));
    SSL_free(session);
    SSL_CTX_free(context);
    ::close(fd);
}

// quillon-send --stamp into quillon-recv over UDP, TCP (once with keyed
// stamps) and TLS (over IPv6, once with a client certificate the receiver
// requires): both end with 0,
// and the receiver names the sender's run and stream. Before a TLS run a
// client stalls in its handshake, one speaks plain TCP and (when required)
// one offers no certificate, or else one sends junk after its handshake:
// each failure is counted, none stops the run.
TEST(StampedChain, WhatTheSenderStampsArrivesWhole)
{
    const TestCertificates &certs = MadeCertificates();
    const std::vector<std::string> serve = {"--cert",        certs.serverCert,      "--key",
                                            certs.serverKey, "--handshake-timeout", "0.3"};
    std::vector<std::string> mutual = serve;
    mutual.insert(mutual.end(), {"--ca-file", certs.caFile, "--require-client-cert"});
    QTemporaryDir folder;
    const std::string key = folder.filePath("key").toStdString();
    std::ofstream(key) << "a secret the sender and receiver share";
    struct Case {
        std::string transport;
        std::vector<std::string> sendFlags;
        std::vector<std::string> listenFlags;
        int count;
    };
    const Case cases[] = {
        {"tcp", {"--unlimited", "--message", "Random string of text"}, {}, 20000},
        {"udp", {"--rate", "10000", "--format", "rfc5424", "--run-id", "chain5424"}, {}, 2000},
        {"tcp",
         {"--unlimited", "--format", "rfc5424", "--sd", "[a@1 b=\"c\"]", "--framing", "octet-count", "--stamp-key",
          key},
         {"--stamp-key", key},
         20000},
        {"tls",
         {"--unlimited", "--format", "rfc5424", "--cert", certs.clientCert, "--key", certs.clientKey},
         mutual,
         20000},
        {"tls", {"--unlimited", "--framing", "lf"}, serve, 20000},
    };
    for (const Case &c : cases) {
        const bool tls = c.transport == "tls", required = Has(c.listenFlags, "--require-client-cert");
        const std::string host = tls ? "::1" : "127.0.0.1";
        std::vector<std::string> listen = {"--listen", c.transport, "--bind",   host,
                                           "--port",   "0",         "--expect", std::to_string(c.count),
                                           "--idle",   "10",        "--json"};
        listen.insert(listen.end(), c.listenFlags.begin(), c.listenFlags.end());
        Receiver receiver(listen);
        std::vector<std::string> args = {"--target",    host,       "--port", std::to_string(receiver.Port()),
                                         "--transport", c.transport};
        if (tls) {
            args.insert(args.end(), {"--ca-file", certs.caFile});
            const int stalled = Connect(receiver.Port(), AF_INET6), plain = Connect(receiver.Port(), AF_INET6);
            Write(plain, "<13>not a TLS client\n");
            EXPECT_TRUE(ClosedByPeer(plain));
            EXPECT_TRUE(ClosedByPeer(stalled));
            ::close(stalled);
            ::close(plain);
            if (required) // TLS 1.3: the verdict comes after the client's handshake
                RunToEnd(SendPath, args);
            else
                HandshakeThenJunk(receiver.Port());
        }
        args.insert(args.end(), {"--count", std::to_string(c.count), "--stamp", "--json"});
        args.insert(args.end(), c.sendFlags.begin(), c.sendFlags.end());
        const Outcome sent = RunToEnd(SendPath, args);
        const Outcome received = receiver.Finish();
        EXPECT_EQ(sent.exitCode, 0) << c.transport << sent.err;
        EXPECT_EQ(received.exitCode, 0) << c.transport << received.err << received.out;
        const std::string run = sent.json.value("run_id").toString().toStdString();
        const auto named = std::find(c.sendFlags.begin(), c.sendFlags.end(), "--run-id");
        EXPECT_TRUE(named == c.sendFlags.end() ? run.size() == 12 : run == named[1]) << sent.out;
        const QJsonObject sentStream = sent.json["streams"].toArray()[0].toObject();
        EXPECT_EQ(Figure(sentStream, "stream"), 1u);
        EXPECT_EQ(Figure(sentStream, "last_seq"), static_cast<std::uint64_t>(c.count));
        const QJsonObject &json = received.json;
        EXPECT_EQ(Figure(json, "received"), static_cast<std::uint64_t>(c.count)) << c.transport;
        EXPECT_EQ(Figure(json, "lost") + Figure(json, "duplicates") + Figure(json, "reordered"), 0u) << c.transport;
        EXPECT_EQ(Figure(json, "malformed_frames") + Figure(json, "malformed_stamps") + Figure(json, "forged"), 0u);
        EXPECT_EQ(Figure(json, "tls_handshakes"), tls ? (required ? 1u : 2u) : 0u);
        EXPECT_EQ(Figure(json, "tls_dropped"), tls && !required ? 1u : 0u);
        EXPECT_EQ(json.value("tls_last_drop").toString().startsWith("after the handshake, "), tls && !required);
        EXPECT_EQ(Figure(json, "tls_failed"), tls ? (required ? 3u : 2u) : 0u);
        EXPECT_EQ(Figure(json, "tls_timeouts"), tls ? 1u : 0u);
        if (tls) {
            EXPECT_EQ(Figure(json, "connections"), 4u);
            const std::string last = json.value("tls_last_failure").toString().toStdString();
            EXPECT_NE(last.find(required ? "certificate" : "did not finish within 300 ms"), std::string::npos) << last;
        }
        const QJsonArray streams = json["streams"].toArray();
        ASSERT_EQ(streams.size(), 1) << c.transport;
        EXPECT_EQ(streams[0].toObject().value("run").toString().toStdString(), run);
        EXPECT_EQ(Figure(streams[0].toObject(), "stream"), 1u);
        EXPECT_EQ(Figure(streams[0].toObject(), "highest_seq"), static_cast<std::uint64_t>(c.count));
    }
}
} // namespace
