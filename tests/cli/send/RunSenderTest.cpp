#include "cli/send/RunSender.h"
#include "cli/send/CommandLine.h"
#include "load/SendRun.h"
#include "support/LoopbackReceivers.h"
#include "support/StuckListener.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TlsLoopbackServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <tuple>

namespace {
RunSummary SendWith(std::vector<std::string> args, quint16 port)
{
    args.insert(args.end(), {"--port", std::to_string(port)});
    const ParseResult parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.action, ParseResult::Action::Run) << parsed.error;
    std::ostringstream out, err;
    return RunSender(parsed.options, out, err);
}

std::string WriteFile(const QTemporaryDir &folder, const char *name, const std::string &bytes)
{
    const std::string path = folder.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

const std::string Numbered = "This is Syslog test message number ####";

TEST(RunSender, UdpDatagramsCarryTheComposedBytesAndTheSummaryCountsThem)
{
    QTemporaryDir folder;
    const std::string multiLine = WriteFile(folder, "multi.txt", "line one\nline two");
    const std::string source = WriteFile(folder, "source.txt", "a\tb\tc\tfirst\r\nhex=41ff00\r\n");
    const std::string lines = WriteFile(folder, "lines.txt", "first ####\n\nsecond\r\nthird");
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"--facility", "local3", "--level", "notice", "--message", "Hello", "--source-address", "10.1.2.3"},
         {"<157>Original Address=10.1.2.3 Hello"}},
        {{"--priority", "255", "--message", "x", "--oversize", "--crlf"}, {"<255>x" + std::string(2048, ' ') + "\r\n"}},
        {{"--rfc-header", "--message", "HEX=3c31333e4869"}, {"<13>Hi"}},
        {{"--priority", "13", "--multiline-file", multiLine}, {"<13>line one\nline two"}},
        {{"--priority", "13", "--source-file", source, "--burst", "100", "--count", "3"},
         {"<13>first", std::string("A\xff\0", 3), "<13>first"}},
        // Each line once, as it stands, non-empty ones only.
        {{"--lines-file", lines}, {"<13>first ####", "<13>second", "<13>third"}},
        {{"--lines-file", lines, "--count", "4", "--level", "info"},
         {"<14>first ####", "<14>second", "<14>third", "<14>first ####"}},
    };
    for (const auto &[args, packets] : cases) {
        UdpReceiver receiver;
        const RunSummary summary = SendWith(args, receiver.Port());
        ASSERT_TRUE(receiver.WaitForDatagrams(packets.size())) << args[1];
        EXPECT_EQ(receiver.Datagrams(), packets);
        std::int64_t bytes = 0;
        for (const std::string &packet : packets)
            bytes += static_cast<std::int64_t>(packet.size());
        EXPECT_EQ(summary.sent, std::int64_t(packets.size()));
        EXPECT_EQ(summary.bytes, bytes);
        EXPECT_EQ(summary.failed, 0);
        EXPECT_EQ(summary.exitStatus, 0) << summary.error;
    }
}

// Every framing on a TCP stream (CR LF unless one is chosen) and none on
// UDP, RFC 5424 with its header fields on both; the timestamps read "TS".
TEST(RunSender, FramingsAndRfc5424MessagesOnTheWire)
{
    QTemporaryDir folder;
    const std::string odd = WriteFile(folder, "odd.txt", std::string("one\r\ntwo\n\0\xFF", 11));
    const std::vector<std::string> rfc5424 = {"--format",   "rfc5424", "--hostname", "host.example",
                                              "--app-name", "app",     "--procid",   "4242",
                                              "--msgid",    "ID47",    "--sd",       R"([a@32473 q="\"\\\]"])",
                                              "--sd",       "[b]",     "--bom"};
    const std::string sd = R"([a@32473 q="\"\\\]"][b])";
    const auto hi = [](const std::string &fields) { return "<13>1 TS " + fields + " \xEF\xBB\xBFHi"; };
    const std::string one = "<13>This is Syslog test message number 1",
                      two = "<13>This is Syslog test message number 2";
    const auto twice = [](const std::string &packet) { return packet + packet; };
    using namespace std::string_literals;
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {"tcp", {}, one + "\r\n" + two + "\r\n"},
        {"tcp", {"--framing", "lf"}, one + "\n" + two + "\n"},
        {"tcp", {"--framing", "CRLF"}, one + "\r\n" + two + "\r\n"},
        {"tcp", {"--framing", "nul"}, one + '\0' + two + '\0'},
        {"tcp", {"--framing", "octet-count"}, "40 " + one + "40 " + two},
        {"tcp", {"--framing", "lf", "--crlf"}, one + "\r\n\n" + two + "\r\n\n"},
        {"tcp", {"--framing", "none", "--no-crlf"}, one + two},
        {"tcp",
         {"--framing", "octet-count", "--multiline-file", odd, "--message", "MultiLine text message"},
         twice("15 <13>one\r\ntwo\n\0\xFF"s)},
        {"udp", {"--framing", "octet-count", "--crlf"}, one + "\r\n|" + two + "\r\n|"},
        {"tcp", {"--framing", "octet-count", "--message", "Hi"}, twice("90 " + hi("host.example app 4242 ID47 " + sd))},
        {"udp", {"--message", "Hi", "--sd", "-", "--no-crlf"}, twice(hi("host.example app 4242 ID47 -") + "|")},
        {"tcp",
         {"--source-address", "10.1.2.3", "--message", "Hi", "--app-name", "-", "--procid", "-", "--framing", "lf"},
         twice(hi("10.1.2.3 - - ID47 " + sd) + "\n")},
    };
    // Timestamps in UTC, so an octet count covers one of known length.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "UTC");
    tzset();
    const std::regex timestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}(Z|[+-]\d\d:\d\d))");
    for (const auto &[transport, extra, expected] : cases) {
        std::vector<std::string> args = {"--transport", transport,     "--priority", "13", "--message",
                                         Numbered,      "--unlimited", "--count",    "2"};
        if (expected.find("<13>1 ") != std::string::npos) // then the later flags change some fields
            args.insert(args.end(), rfc5424.begin(), rfc5424.end());
        args.insert(args.end(), extra.begin(), extra.end());
        UdpReceiver udp;
        TcpReceiver tcp;
        const RunSummary summary = SendWith(args, transport == "tcp" ? tcp.Port() : udp.Port());
        std::string got;
        if (transport == "tcp") {
            EXPECT_TRUE(tcp.WaitForBytes(static_cast<std::size_t>(summary.bytes)));
            got = tcp.Bytes();
        } else {
            EXPECT_TRUE(udp.WaitForDatagrams(2));
            for (const std::string &datagram : udp.Datagrams())
                got += datagram + "|";
        }
        EXPECT_EQ(std::regex_replace(got, timestamp, "TS"), expected) << transport << ' ' << extra.size();
        EXPECT_EQ(summary.exitStatus, 0) << summary.error;
        EXPECT_EQ(summary.sent, 2);
    }
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
}

// Whichever way the receiver stops, only whole messages count; those a
// receiver that stopped reading left in this side's queue are of unknown
// fate, not sent.
TEST(RunSender, AReceiverThatHangsUpOrStopsReadingEndsTheRun)
{
    // Hangs up as soon as the first bytes arrive.
    QTcpServer closing;
    ASSERT_TRUE(closing.listen(QHostAddress::LocalHost));
    QObject::connect(&closing, &QTcpServer::newConnection, [&closing] {
        QTcpSocket *socket = closing.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->abort(); });
    });
    // Listens but never accepts: the kernel takes what fits its buffers, then nothing.
    std::string stalledPort;
    const int stalled = UnacceptedListener(stalledPort, 1);
    // Ends the TLS session mid-stream.
    TlsLoopbackServer::Options options;
    options.closeAfter = 50000;
    TlsLoopbackServer tls(options);
    const std::vector<std::string> overTls = {"--transport", "tls", "--ca-file", MadeCertificates().caFile};
    const std::tuple<quint16, std::vector<std::string>, std::string, std::string, bool> cases[] = {
        {closing.serverPort(), {"--transport", "tcp"}, "connection", "TCP session", false},
        {static_cast<quint16>(std::stoi(stalledPort)), {"--transport", "tcp"}, "error", "stopped taking data", true},
        {tls.Port(), overTls, "connection",
         "the receiver at 127.0.0.1:" + std::to_string(tls.Port()) + " closed the TLS", false}};
    for (auto [port, args, stoppedBy, error, held] : cases) {
        args.insert(args.end(), {"--priority", "13", "--message", "x", "--unlimited", "--duration", "20"});
        const RunSummary summary = SendWith(args, port);
        EXPECT_EQ(summary.exitStatus, 1);
        EXPECT_EQ(summary.stoppedBy, stoppedBy);
        EXPECT_LT(summary.elapsedSeconds, 10);
        EXPECT_NE(summary.error.find(error), std::string::npos) << summary.error;
        EXPECT_GE(summary.sent, 1);
        if (held) {
            EXPECT_GT(summary.unknownFate, 0);
            EXPECT_EQ(summary.connections.at(0).sent, summary.sent);
        }
        // "<13>x\r\n" and "5 <13>x"
        EXPECT_EQ(summary.bytes, (summary.sent + (held ? summary.unknownFate : 0)) * 7);
    }
    ::close(stalled);
}
// The same settings put the same bytes in a TLS session as in a TCP
// session with octet counting, random messages of every length included.
TEST(RunSender, TlsCarriesTheBytesOfTheTcpStream)
{
    TlsLoopbackServer tls;
    TcpReceiver tcp;
    const std::vector<std::string> args = {
        "--seed",  "7",    "--message", "Random string of text",  "--corrupt", "--unlimited",
        "--count", "3000", "--ca-file", MadeCertificates().caFile};
    std::vector<std::string> tlsArgs = args, tcpArgs = args;
    tlsArgs.insert(tlsArgs.end(), {"--transport", "tls", "--target", "localhost"});
    tcpArgs.insert(tcpArgs.end(), {"--transport", "tcp", "--framing", "octet-count"});
    const RunSummary overTls = SendWith(tlsArgs, tls.Port());
    const RunSummary overTcp = SendWith(tcpArgs, tcp.Port());
    EXPECT_EQ(overTls.exitStatus, 0) << overTls.error;
    EXPECT_EQ(overTls.sent, 3000);
    EXPECT_EQ(overTls.tlsVersion, "TLSv1.3");
    ASSERT_TRUE(tls.WaitForBytes(static_cast<std::size_t>(overTls.bytes)));
    ASSERT_TRUE(tcp.WaitForBytes(static_cast<std::size_t>(overTcp.bytes)));
    EXPECT_GT(tcp.Bytes().size(), 3000u * 20);
    EXPECT_TRUE(tls.Bytes() == tcp.Bytes());
    EXPECT_EQ(overTls.bytes, overTcp.bytes);
}

// The probe's steps are runs of one preparation: its TLS files are read
// once, and each run hands its figures to the sinks it is given.
TEST(RunSender, RunsOfOnePreparationNeedItsFilesNoMore)
{
    TlsLoopbackServer tls;
    QTemporaryDir folder;
    const std::string ca = folder.filePath(QStringLiteral("ca.pem")).toStdString();
    std::filesystem::copy_file(MadeCertificates().caFile, ca);
    const ParseResult parsed = ParseCommandLine({"--transport", "tls", "--target", "localhost", "--port",
                                                 std::to_string(tls.Port()), "--ca-file", ca, "--count", "10"});
    ASSERT_EQ(parsed.action, ParseResult::Action::Run) << parsed.error;
    const PreparedSend prepared = PrepareSend(parsed.options, [](const std::string &) {});
    ASSERT_TRUE(prepared.Ready()) << prepared.failure.error;
    std::filesystem::remove(ca);
    struct LastTick final : SendSink {
        std::int64_t sent = 0;
        void Tick(const SendTick &tick) override { sent = tick.last ? tick.total.sent : sent; }
    };
    for (int run = 0; run < 2; ++run) {
        LastTick last;
        const RunSummary summary = RunLoad(prepared.options, prepared.tls, {&last});
        EXPECT_EQ(summary.exitStatus, 0) << summary.error;
        EXPECT_EQ(last.sent, 10);
    }
}

// Idle sessions come up beside the sending ones and are held open, without a
// byte, while the messages flow.
TEST(RunSender, IdleConnectionsAreHeldOpenWithoutAByte)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    std::map<QTcpSocket *, std::int64_t> bytes;
    std::int64_t total = 0;
    std::size_t mostIdleWhileSending = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            bytes[socket] = 0;
            QObject::connect(socket, &QTcpSocket::readyRead, [&, socket] {
                const auto got = socket->readAll().size();
                bytes[socket] += got;
                total += got;
                // Counted once both sending sessions carried bytes.
                const auto idle = std::count_if(bytes.begin(), bytes.end(), [](const auto &entry) {
                    return entry.second == 0 && entry.first->state() == QAbstractSocket::ConnectedState;
                });
                const auto sending =
                    std::count_if(bytes.begin(), bytes.end(), [](const auto &e) { return e.second > 0; });
                if (sending == 2)
                    mostIdleWhileSending = std::max(mostIdleWhileSending, static_cast<std::size_t>(idle));
            });
        }
    });
    const RunSummary summary = SendWith(
        {"--transport", "tcp", "--connections", "2", "--idle-connections", "3", "--rate", "100", "--count", "20"},
        server.serverPort());
    EXPECT_EQ(summary.exitStatus, 0) << summary.error;
    EXPECT_TRUE(WaitUntil([&] { return total == summary.bytes; }));
    EXPECT_EQ(bytes.size(), 5u);
    EXPECT_EQ(std::count_if(bytes.begin(), bytes.end(), [](const auto &entry) { return entry.second == 0; }), 3);
    EXPECT_EQ(mostIdleWhileSending, 3u);
    EXPECT_EQ(summary.idle.asked, 3);
    EXPECT_EQ(summary.idle.opened, 3);
    EXPECT_EQ(summary.idle.broken, 0);
    EXPECT_EQ(summary.idle.openAtEnd, 3);
}
} // namespace
