#include "cli/common/CliProcess.h"
#include "engine/Stamp.h"
#include "support/LoopbackReceivers.h"
#include "support/StuckListener.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TlsLoopbackServer.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <tuple>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);

std::string Text(const QJsonObject &json, const char *key)
{
    return json.value(QLatin1String(key)).toString().toStdString();
}

TEST(Program, ExitStatusAndMessages)
{
    UdpReceiver udp;
    TcpReceiver tcp;
    TcpReceiver refusing;
    const std::string refusedPort = std::to_string(refusing.Port());
    refusing.StopListening();
    const std::string ok = std::to_string(udp.Port());
    const std::string closed = std::to_string(ClosedUdpPort());
    // Only --multiline-file - reads it, byte for byte.
    const std::string input("first line\nsecond \xc3\xa9\xff line\n", 27);
    const std::string capture = "From a Ethereal capture file";
    QTemporaryDir folder;
    const std::string plainLog = folder.filePath("plain.log").toStdString();
    std::ofstream(plainLog) << "Dec  7 12:00:00 host app: one\na\tb\tc\ttwo\nHEX=41\nthree\n";
    // Patterns for the start of the output and of the errors.
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--version"}, 0, "quillon-send 2\\.2\\.0\n$", ""},
        {{"--help"}, 0, "Usage: quillon-send \\[options\\]", ""},
        {{"--port", ok, "--priority", "13", "--message", "ok"},
         0,
         "1 message sent, 0 failed in [0-9.]+ s, 6 bytes \\(framing included\\)\n$",
         "$"},
        {{"--port", ok, "--priority", "13", "--multiline-file", "-"}, 0, "1 message sent, 0 failed", ""},
        {{"--foo"}, 2, "$", "quillon-send: unknown flag --foo \\(see quillon-send --help\\)\n$"},
        {{"--source-file", "/nonexistent/m.txt"}, 2, "", "quillon-send: --source-file: cannot open '/nonex"},
        {{"--multiline-file", "/nonexistent/t.txt", "--json"}, 2, "\\{.*\"sent\":0", "quillon-send: --multi"},
        {{"--transport", "tcp", "--port", refusedPort, "--quiet"}, 1, "", "quillon-send: TCP session failed to"},
        {{"--target", "no..host", "--json"}, 1, "\\{.*\"failed\":1", "quillon-send: nothing could"},
        {{"--port", closed, "--unlimited", "--count", "40", "--json"},
         1,
         "\\{.*\"refused\":40,\"sent\":40,",
         "quillon-send: 40 of 40 datagrams to 127\\.0\\.0\\.1:" + closed + " came back refused: Connection refused\n$"},
        {{"--port", ok, "--priority", "13", "--message", "w", "--framing", "lf", "--json"},
         0,
         "\\{.*\"format\":\"rfc3164\",\"framing\":\"none\",",
         "quillon-send: --framing applies to TCP only; UDP datagrams go out as built\n$"},
        // Endless files: a message is at most 64 KiB, a line too.
        {{"--multiline-file", "/dev/zero"},
         2,
         "$",
         "quillon-send: --multiline-file: '/dev/zero' holds more than 64 KiB"},
        {{"--port", ok, "--source-file", "/dev/zero"},
         2,
         "$",
         "quillon-send: --source-file: '/dev/zero' has a line longer than 64 KiB"},
        // A capture is read whole before anything goes (a device up to 64 MiB), with syslog datagrams in it.
        {{"--message", capture, "--source-file", "/dev/zero"},
         2,
         "$",
         "quillon-send: --source-file: '/dev/zero' holds more than 64 MiB"},
        {{"--message", capture, "--source-file", "/dev/null"},
         2,
         "$",
         "quillon-send: --source-file: '/dev/null' holds no syslog datagrams"},
        {{"--source-file", "/"}, 2, "$", "quillon-send: --source-file: cannot open '/': it is a folder"},
        {{"--port", ok, "--source-file", plainLog, "--quiet"},
         0,
         "$",
         "quillon-send: --source-file: 2 of 4 lines in '.*' have fewer than four tab-delimited fields and go out "
         "as empty messages \\(the fourth field is the message\\); --lines-file FILE sends each line as it "
         "stands\n$"},
        {{"--port", ok, "--lines-file", "-"}, 0, "2 messages sent, 0 failed", "$"},
        {{"--pack", "list"}, 0, "cef: CEF:0 records[^\n]*\n  CEF:0\\|Quillon\\|", "$"},
        {{"--template", "x ${ip:4}"}, 2, "$", "quillon-send: --template: field \\$\\{ip:4\\} at column 3: "},
        {{"--lines-file", "/dev/null"}, 2, "$", "quillon-send: --lines-file: '/dev/null' holds no lines to send\n$"},
        {{"--replay", "/nonexistent/a.log"}, 2, "$", "quillon-send: --replay: cannot read '/nonexistent/a.log': No"},
        {{"--replay", "/dev/zero"}, 2, "$", "quillon-send: --replay: '/dev/zero' is not a regular file"},
        {{"--transport", "tcp", "--port", std::to_string(tcp.Port()), "--framing", "lf", "--multiline-file", "-"},
         0,
         "1 message sent",
         "quillon-send: the message has line breaks and --framing lf ends each message in LF: receivers will split "
         "it into several; --framing octet-count keeps it whole\n$"},
        {{"--transport", "tcp", "--port", std::to_string(tcp.Port()), "--format", "rfc5424", "--json"},
         0,
         "\\{.*\"format\":\"rfc5424\",\"framing\":\"octet-count\",",
         "$"},
    };
    for (const auto &[args, exitCode, out, err] : cases) {
        const Outcome outcome = RunToEnd(SendPath, args, QByteArray::fromStdString(input));
        EXPECT_EQ(outcome.exitCode, exitCode) << args.front() << outcome.err;
        EXPECT_TRUE(std::regex_search(outcome.out, std::regex("^" + out))) << outcome.out;
        EXPECT_TRUE(std::regex_search(outcome.err, std::regex("^" + err))) << outcome.err;
    }
    EXPECT_TRUE(udp.WaitForDatagrams(6));
    EXPECT_EQ(udp.Datagrams(), (std::vector<std::string>{"<13>ok", "<13>" + input, "<13>w", "<13>", "<13>first line",
                                                         "<13>second \xc3\xa9\xff line"}));
}

// Handshakes with loopback TLS servers: the exit status, the reason, nothing
// counted as sent when a handshake fails, and a file that cannot be used
// named with its flag before anything connects.
TEST(Program, TlsHandshakesAndFilesSayWhatWentWrong)
{
    const TestCertificates &certs = MadeCertificates();
    TlsLoopbackServer plain;
    TlsLoopbackServer::Options options;
    options.caFile = certs.caFile;
    options.requireClientCertificate = true;
    TlsLoopbackServer mutual(options);
    const std::string port = std::to_string(plain.Port()), ca = certs.caFile;
    const std::string failed = "quillon-send: TLS handshake failed: ";
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--port", port, "--ca-file", ca, "--json"},
         0,
         "\\{.*\"tls_cipher\":\"TLS_[A-Z0-9_]+\",\"tls_version\":\"TLSv1\\.3\",\"transport\":\"tls\"",
         "$"},
        {{"--port", std::to_string(mutual.Port()), "--ca-file", ca, "--json"},
         1,
         "\\{.*\"sent\":0,.*\"tls_cipher\":null,\"tls_version\":null,",
         failed + "the server requires a client certificate\n$"},
        {{"--port", port, "--ca-file", ca},
         0,
         "1 message sent, 0 failed in [0-9.]+ s, 8 bytes \\(framing included\\), over TLSv1\\.3 with TLS_",
         "$"},
        {{"--port", port, "--cert", certs.clientCert, "--key", certs.serverKey},
         2,
         "$",
         "quillon-send: --key: the key in .+ does not match the certificate in .+\n$"},
        {{"--port", port, "--cert", certs.clientCert},
         2,
         "$",
         "quillon-send: --cert: the key .+ holds no PEM private key; add --key FILE\n$"},
        {{"--port", port, "--insecure", "--quiet"},
         0,
         "$",
         "quillon-send: TLS without verification: the server's certificate and name are not checked\n$"},
    };
    for (const auto &[flags, exitCode, out, err] : cases) {
        std::vector<std::string> args = {"--transport", "tls", "--priority", "13", "--message", "hi"};
        args.insert(args.end(), flags.begin(), flags.end());
        const Outcome outcome = RunToEnd(SendPath, args);
        EXPECT_EQ(outcome.exitCode, exitCode) << flags[1] << ' ' << flags[2] << outcome.err;
        EXPECT_TRUE(std::regex_search(outcome.out, std::regex("^" + out))) << outcome.out;
        EXPECT_TRUE(std::regex_search(outcome.err, std::regex("^" + err))) << outcome.err;
    }
    // The latest session, octet-counted.
    EXPECT_TRUE(plain.WaitForBytes(8));
    EXPECT_EQ(plain.Bytes(), "6 <13>hi");
}

// A terminal echoes the Ctrl-C where the summary would begin, so there the
// summary starts on a line of its own.
TEST(Program, StopSignalsEndTheRunWithTheSummary)
{
    const std::tuple<int, bool, std::string> cases[] = {
        {SIGINT, false, "{"}, {SIGTERM, false, "{"}, {SIGHUP, false, "{"}, {SIGINT, true, "\r\n{"}};
    for (const auto &[signalNumber, terminal, start] : cases) {
        UdpReceiver udp;
        QProcess program;
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave, 0);
        if (terminal)
            program.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO); });
        program.start(SendPath, Arguments({"--port", std::to_string(udp.Port()), "--every-minute", "--json"}));
        ASSERT_TRUE(program.waitForStarted());
        ASSERT_TRUE(udp.WaitForDatagrams(1));
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        Outcome outcome = Collect(program);
        char chunk[4096];
        for (ssize_t got; (got = ::read(master, chunk, sizeof chunk)) > 0;)
            outcome.out.append(chunk, static_cast<std::size_t>(got));
        ::close(slave);
        ::close(master);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.out.rfind(start, 0), 0u) << outcome.out;
        if (!terminal) {
            EXPECT_EQ(Figure(outcome.json, "sent"), 1u) << outcome.out;
            EXPECT_EQ(outcome.json.value(QStringLiteral("stopped_by")).toString(), QStringLiteral("signal"));
        }
    }
}

// Every connection is a descriptor: the soft limit is raised as far as the
// hard one lets, and a run that still cannot fit is refused before connecting.
TEST(Program, ConnectionsBeyondTheOpenFilesAllowedAreRefusedUpFront)
{
    std::string port;
    const int listener = UnacceptedListener(port, 512);
    const std::tuple<rlim_t, std::string, int, std::string> cases[] = {
        {64, "200", 2,
         "quillon-send: --connections 200 needs about 210 file descriptors; this process may open 64 "
         "\\(ulimit -n\\)\n$"},
        {1024, "300", 0, "$"},
    };
    for (const auto &[hard, connections, exitCode, err] : cases) {
        QProcess program;
        program.setChildProcessModifier([hard = hard] {
            const rlimit files{64, hard};
            ::setrlimit(RLIMIT_NOFILE, &files);
        });
        program.start(SendPath,
                      Arguments({"--transport", "tcp", "--port", port, "--connections", connections, "--json"}));
        const Outcome outcome = Collect(program);
        EXPECT_EQ(outcome.exitCode, exitCode) << outcome.err;
        EXPECT_TRUE(std::regex_search(outcome.err, std::regex("^" + err))) << outcome.err;
        if (exitCode == 0) {
            EXPECT_EQ(Figure(outcome.json, "connections_up"), 300u);
        }
    }
    ::close(listener);
}

// --duration bounds connecting too, and a session that is never up ends the
// run; the retries of --reconnect are told as they happen, a line a second,
// and the messages due meanwhile failed.
TEST(Program, RunsThatCannotConnectEndInTimeAndSayWhy)
{
    std::string stalled, refused;
    const int listener = UnacceptedListener(stalled);
    ::close(UnacceptedListener(refused));
    const std::tuple<std::vector<std::string>, std::string, std::string, std::string, std::uint64_t> cases[] = {
        {{"--transport", "tls", "--insecure", "--port", stalled, "--rate", "10", "--duration", "1"},
         "duration",
         "no TLS session to 127\\.0\\.0\\.1:" + stalled + " came up in 1\\.[0-9] s",
         "quillon-send: TLS without verification",
         0},
        {{"--transport", "tcp", "--port", refused, "--reconnect", "--rate", "200", "--count", "100",
          "--connect-timeout", "1"},
         "connection",
         "no TCP session to 127\\.0\\.0\\.1:" + refused +
             " for 1 s; the last attempt: TCP session failed to "
             "connect to .+: Connection refused$",
         "quillon-send: TCP session failed to connect to 127\\.0\\.0\\.1:" + refused +
             ": Connection refused; retrying in 0\\.05 s\n",
         100},
    };
    for (auto [args, stoppedBy, error, err, failed] : cases) {
        args.push_back("--json");
        const Outcome outcome = RunToEnd(SendPath, args);
        EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
        EXPECT_EQ(Text(outcome.json, "stopped_by"), stoppedBy);
        EXPECT_TRUE(std::regex_search(Text(outcome.json, "error"), std::regex("^" + error))) << outcome.out;
        EXPECT_TRUE(std::regex_search(outcome.err, std::regex("^" + err))) << outcome.err;
        EXPECT_EQ(Figure(outcome.json, "connections_up"), 0u);
        EXPECT_EQ(Figure(outcome.json, "failed"), failed);
        EXPECT_EQ(Figure(outcome.json, "sent"), 0u);
        // A line a second at most, besides the last one.
        const auto lines = std::count(outcome.err.begin(), outcome.err.end(), '\n');
        EXPECT_LE(lines, 3) << outcome.err;
    }
    ::close(listener);
}

// A receiver that stopped reading blocks the sends: the records still come
// at each second's mark, and Ctrl-C ends the run within a slice and the
// drain, as stopped by the signal.
TEST(Program, ABlockedRunKeepsItsSecondsAndStopsOnCtrlC)
{
    std::string port;
    const int listener = UnacceptedListener(port);
    QTemporaryDir folder;
    const QString stats = folder.filePath(QStringLiteral("send.jsonl"));
    QProcess program;
    program.start(SendPath, Arguments({"--transport", "tcp", "--port", port, "--rate", "1e6", "--stats-file",
                                       stats.toStdString(), "--drain-timeout", "1", "--json"}));
    // On a busy machine the buffers may take more than a second to fill:
    // wait for a whole second in which the sender waited for room.
    const auto fullSecond = [&]() -> std::optional<QJsonObject> {
        QFile file(stats);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        // Whole lines only: the file may be in the middle of one.
        const QByteArray text = file.readAll();
        for (const QByteArray &line : text.left(text.lastIndexOf('\n') + 1).split('\n')) {
            const QJsonObject second = QJsonDocument::fromJson(line).object();
            if (second[QLatin1String("full")].toBool() && second[QLatin1String("blocked_seconds")].toDouble() > 0)
                return second;
        }
        return std::nullopt;
    };
    ASSERT_TRUE(WaitUntil([&] { return fullSecond().has_value(); }, 20000));
    ::kill(static_cast<pid_t>(program.processId()), SIGINT);
    const Outcome outcome = Collect(program);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(Text(outcome.json, "stopped_by"), "signal");
    // A batch that waited for room went as it was built: nothing failed.
    EXPECT_EQ(Figure(outcome.json, "failed"), 0u);
    EXPECT_NE(Text(outcome.json, "error").find("were not taken within 1 s (--drain-timeout)"), std::string::npos);
    const QJsonObject full = *fullSecond();
    EXPECT_NEAR(full[QLatin1String("length")].toDouble(), 1, 0.2);
    ::close(listener);
}

// Messages due while every session was down are skipped with --no-catch-up,
// and otherwise sent late in a burst; either way the summary says how many.
TEST(Program, AfterAnOutageOverdueMessagesAreSkippedOrCountedLate)
{
    for (const bool skip : {true, false}) {
        auto receiver = std::make_unique<TcpReceiver>();
        const quint16 port = receiver->Port();
        std::vector<std::string> args = {"--transport", "tcp",    "--port", std::to_string(port),
                                         "--reconnect", "--rate", "2000",   "--duration",
                                         "3",           "--json"};
        if (skip)
            args.push_back("--no-catch-up");
        QProcess program;
        program.start(SendPath, Arguments(args));
        ASSERT_TRUE(receiver->WaitForBytes(1000));
        receiver.reset();
        // The outage: a second of refused connections.
        QTest::qWait(1000);
        receiver = std::make_unique<TcpReceiver>(QHostAddress::LocalHost, port);
        const Outcome outcome = Collect(program);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_NE(outcome.err.find("retrying in"), std::string::npos) << outcome.err;
        EXPECT_GE(Figure(outcome.json, "reconnects"), 1u);
        EXPECT_GT(outcome.json.value(QStringLiteral("longest_outage_seconds")).toDouble(), 0.9);
        const std::uint64_t skipped = Figure(outcome.json, "skipped"), late = Figure(outcome.json, "late");
        if (skip) {
            EXPECT_GT(skipped, 1000u);
            EXPECT_LT(late, 500u);
        } else {
            EXPECT_EQ(skipped, 0u);
            EXPECT_GT(late, 1000u);
        }
    }
}

// Batching changes only the hand-over: two fresh processes start from the
// same random sequence, so one big batch and many small ones must carry the
// same bytes in the same order, over either transport.
TEST(Program, BatchedSendingCarriesTheSameBytesAsSmallBatches)
{
    for (const std::string transport : {"udp", "tcp"}) {
        std::vector<std::string> received;
        for (const std::string pace : {"--unlimited", "--rate"}) {
            UdpReceiver udp;
            TcpReceiver tcp;
            const quint16 port = transport == "tcp" ? tcp.Port() : udp.Port();
            std::vector<std::string> args = {"--transport", transport, "--port", std::to_string(port), "--json"};
            args.insert(args.end(), {"--count", "600", "--corrupt", "--message", "Random string of text"});
            args.insert(args.end(), {"--source-address", "Random Class C addresses", pace});
            if (pace == "--rate")
                args.push_back("3000");
            const Outcome outcome = RunToEnd(SendPath, args);
            EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
            const std::size_t sent = Figure(outcome.json, "bytes");
            std::string bytes;
            if (transport == "tcp") {
                EXPECT_TRUE(tcp.WaitForBytes(sent));
                bytes = tcp.Bytes();
            } else {
                EXPECT_TRUE(udp.WaitForDatagrams(600));
                for (const std::string &datagram : udp.Datagrams())
                    bytes += std::to_string(datagram.size()) + ":" + datagram;
            }
            received.push_back(bytes);
        }
        EXPECT_GT(received[0].size(), 600u * 40) << transport;
        EXPECT_TRUE(received[0] == received[1]) << transport;
    }
}

// Each pack and a template, stamped and seeded, sent twice: the same bytes
// but for the clock's, every stamp where its format keeps it and read back
// in order.
TEST(Program, TemplatesRepeatWithASeedAndCarryTheirStamps)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--pack", "cef"}, " quillon=t1:1:"},
        {{"--pack", "leef", "--format", "rfc5424"}, "\tquillon=t1:1:"},
        {{"--pack", "json", "--format", "rfc5424"}, ",\"quillon\":\"t1:1:"},
        {{"--pack", "firewall", "--rfc-header"}, " quillon=t1:1:"},
        {{"--pack", "apache", "--rfc-header"}, " quillon=t1:1:"},
        {{"--pack", "auth", "--format", "rfc5424"}, "[quillon@32473 run=\"t1\""},
        {{"--template", "${ip} ${uuid} u=${choice:a|b} n=${int:1:99999}", "--size", "90"}, " quillon=t1:1:"},
    };
    // Times, and numbers as long as an epoch's, differ from run to run.
    const std::regex clock("[0-9:.]{8,}");
    for (const auto &[flags, place] : cases) {
        std::vector<std::string> runs;
        for (int run = 0; run < 2; ++run) {
            TcpReceiver tcp;
            std::istringstream common("--transport=tcp --framing=octet-count --stamp --run-id=t1 --seed=5 "
                                      "--count=60 --procid=1 --json");
            std::vector<std::string> args(std::istream_iterator<std::string>(common), {});
            args.push_back("--port=" + std::to_string(tcp.Port()));
            args.insert(args.end(), flags.begin(), flags.end());
            const Outcome outcome = RunToEnd(SendPath, args);
            ASSERT_EQ(outcome.exitCode, 0) << flags.front() << outcome.err;
            ASSERT_TRUE(tcp.WaitForBytes(Figure(outcome.json, "bytes")));
            const std::string &bytes = tcp.Bytes();
            std::uint64_t seq = 0;
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t space = bytes.find(' ', at);
                const std::size_t length = std::stoul(bytes.substr(at, space - at));
                const std::string message = bytes.substr(space + 1, length);
                Stamp stamp;
                EXPECT_EQ(FindStamp(message, stamp), StampSearch::Found) << message;
                EXPECT_EQ(stamp.seq, ++seq) << message;
                EXPECT_NE(message.find(place), std::string::npos) << message;
                EXPECT_TRUE(length == 90 || flags.back() != "90") << message;
                at = space + 1 + length;
            }
            EXPECT_EQ(seq, 60u) << flags[1];
            runs.push_back(std::regex_replace(bytes, clock, "#"));
        }
        EXPECT_TRUE(runs[0] == runs[1]) << flags[1];
    }
}
} // namespace
