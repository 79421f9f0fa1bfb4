#include "cli/recv/RecvProcess.h"
#include "support/TestCertificates.h"
#include "transport/ProxyHeader.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);

// quillon-send --proxy-protocol into quillon-recv --listen-proxy over TCP
// and TLS (the header before the handshake): each session's claimed client
// is counted with its messages, and nothing is lost. Before the first run,
// connections without a header, with a malformed one, with one longer than
// the receiver holds, and one that never finishes its header are each
// closed and counted, and none stops the run.
TEST(ProxyChain, ClaimedClientsAreCountedPerSource)
{
    const TestCertificates &certs = MadeCertificates();
    struct Case {
        std::string transport;
        std::string version;
        std::string sources;
        // Empty: any host of 10.9.0.0/16.
        std::vector<std::string> claimed;
    };
    const Case cases[] = {
        {"tcp", "v1", "192.0.2.7,192.0.2.8:4000,[2001:db8::7]", {"192.0.2.7", "192.0.2.8", "2001:db8::7"}},
        {"tcp", "v2", "10.9.0.0/16", {}},
        {"tls", "v2", "198.51.100.1,[2001:db8::2]:514", {"198.51.100.1", "2001:db8::2"}},
        {"tls", "v1", "198.51.100.3", {"198.51.100.3"}},
    };
    constexpr int Count = 6000, Sessions = 6;
    for (const Case &c : cases) {
        const bool hostile = &c == cases;
        std::vector<std::string> listen = {"--listen", c.transport, "--bind", "127.0.0.1", "--port", "0",
                                           "--expect", "6000",      "--idle", "10",        "--json", "--listen-proxy"};
        std::vector<std::string> send = {"--transport",    c.transport, "--proxy-protocol",    c.version,
                                         "--proxy-source", c.sources,   "--connections",       std::to_string(Sessions),
                                         "--stamp",        "--count",   std::to_string(Count), "--unlimited",
                                         "--json"};
        if (c.transport == "tls") {
            listen.insert(listen.end(), {"--cert", certs.serverCert, "--key", certs.serverKey});
            send.insert(send.end(), {"--ca-file", certs.caFile});
        }
        if (hostile)
            listen.insert(listen.end(), {"--handshake-timeout", "0.3"});
        Receiver receiver(listen);
        send.insert(send.end(), {"--port", std::to_string(receiver.Port())});
        if (hostile) {
            const std::string said(ProxyV2Signature);
            for (const std::string &bytes :
                 {std::string("<13>no header\n"), std::string("PROXY TCP4 192.0.2.1 x 1 2\r\n"),
                  said + "\x21\x11\xff\xff", std::string("PROXY TCP4 ")}) {
                const int fd = Connect(receiver.Port());
                Write(fd, bytes);
                EXPECT_TRUE(ClosedByPeer(fd)) << bytes;
                ::close(fd);
            }
        }
        const Outcome sent = RunToEnd(SendPath, send);
        const Outcome received = receiver.Finish();
        const std::string what = c.transport + " " + c.version;
        EXPECT_EQ(sent.exitCode, 0) << what << sent.err;
        EXPECT_EQ(received.exitCode, 0) << what << received.err << received.out;
        EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(Count)) << what;
        EXPECT_EQ(Figure(received.json, "lost"), 0u) << what;
        const QJsonObject proxy = received.json["proxy"].toObject();
        EXPECT_EQ(Figure(proxy, "headers"), static_cast<std::uint64_t>(Sessions)) << what;
        EXPECT_EQ(Figure(proxy, "refused"), hostile ? 4u : 0u) << received.out;
        EXPECT_EQ(proxy.value("last_failure").toString().contains("PROXY header within 300 ms"), hostile);
        EXPECT_EQ(Figure(received.json, "tls_handshakes"), c.transport == "tls" ? 6u : 0u) << what;
        const QJsonArray rows = proxy["sources"].toArray();
        if (!c.claimed.empty()) {
            EXPECT_EQ(rows.size(), static_cast<qsizetype>(c.claimed.size())) << received.out;
        }
        std::uint64_t sessions = 0, messages = 0;
        for (const auto &value : rows) {
            const QJsonObject row = value.toObject();
            const std::string source = row.value("source").toString().toStdString();
            EXPECT_TRUE(c.claimed.empty() ? source.starts_with("10.9.")
                                          : std::count(c.claimed.begin(), c.claimed.end(), source) == 1)
                << source;
            if (!c.claimed.empty()) {
                EXPECT_EQ(Figure(row, "sessions"), Sessions / c.claimed.size()) << source;
            }
            sessions += Figure(row, "sessions");
            messages += Figure(row, "messages");
        }
        EXPECT_EQ(sessions, static_cast<std::uint64_t>(Sessions)) << what;
        EXPECT_EQ(messages, static_cast<std::uint64_t>(Count)) << what;
    }
}
} // namespace
