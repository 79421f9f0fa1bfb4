#include "support/LoopbackReceivers.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TlsLoopbackServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <regex>
#include <tuple>

namespace {
struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

void Start(QProcess &program, const std::vector<std::string> &args)
{
    QStringList list;
    for (const std::string &arg : args)
        list << QString::fromStdString(arg);
    program.start(QStringLiteral(QUILLON_SEND_PATH), list);
    EXPECT_TRUE(program.waitForStarted());
}

// Processes events while waiting, so a receiver in this process keeps reading.
Outcome Finish(QProcess &program)
{
    EXPECT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, 30000));
    Outcome outcome;
    outcome.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    outcome.out = program.readAllStandardOutput().toStdString();
    outcome.err = program.readAllStandardError().toStdString();
    return outcome;
}

// Every line of JSON a program prints must parse.
QJsonObject ParsedJson(const std::string &out)
{
    if (out.empty() || out.front() != '{')
        return {};
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
    return json.object();
}

Outcome RunProgram(const std::vector<std::string> &args, const QByteArray &input)
{
    QProcess program;
    Start(program, args);
    program.write(input);
    program.closeWriteChannel();
    return Finish(program);
}

TEST(Program, ExitStatusAndMessages)
{
    UdpReceiver udp;
    TcpReceiver refusing;
    const std::string refusedPort = std::to_string(refusing.Port());
    refusing.StopListening();
    const std::string ok = std::to_string(udp.Port());
    const std::string closed = std::to_string(ClosedUdpPort());
    // Only --multiline-file - reads it, byte for byte.
    const std::string input("first line\nsecond \xc3\xa9\xff line\n", 27);
    // Patterns for the start of the output and of the errors.
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--version"}, 0, "quillon-send 2\\.2\\.0\n$", ""},
        {{"--help"}, 0, "Usage: quillon-send \\[options\\]", ""},
        {{"--port", ok, "--priority", "13", "--message", "ok"},
         0,
         "1 message sent, 0 failed in [0-9.]+ s, 6 bytes\n$",
         "$"},
        {{"--port", ok, "--priority", "13", "--multiline-file", "-"}, 0, "1 message sent, 0 failed", ""},
        {{"--port", "0"}, 2, "$", "quillon-send: --port: '0' is not a port number from 1 to 65535\n$"},
        {{"--foo"}, 2, "$", "quillon-send: unknown flag --foo \\(see quillon-send --help\\)\n$"},
        {{"--source-file", "/nonexistent/m.txt"}, 2, "", "quillon-send: --source-file: cannot open '/nonex"},
        {{"--multiline-file", "/nonexistent/t.txt", "--json"}, 2, "\\{.*\"sent\":0", "quillon-send: --multi"},
        {{"--transport", "tcp", "--port", refusedPort, "--quiet"}, 1, "", "quillon-send: TCP Session failed to"},
        {{"--transport", "tcp", "--target", "no..host"}, 1, "", "quillon-send: TCP Session failed to connect"},
        {{"--target", "no..host", "--json"}, 1, "\\{.*\"failed\":1", "quillon-send: nothing could"},
        {{"--port", closed, "--unlimited", "--count", "40", "--json"},
         1,
         "\\{.*\"refused\":40,\"sent\":40,",
         "quillon-send: 40 of 40 datagrams to 127\\.0\\.0\\.1:" + closed + " came back refused: Connection refused\n$"},
        {{"--port", closed}, 1, "1 message sent, 0 failed, 1 refused in", "quillon-send: 1 of 1 datagrams"},
        {{"--format", "rfc5424", "--sd", "[a b]"},
         2,
         "$",
         "quillon-send: --sd: PARAM-NAME 'b' is not followed by =\"\n$"},
        {{"--port", ok, "--priority", "13", "--message", "w", "--framing", "lf", "--json"},
         0,
         "\\{.*\"format\":\"rfc3164\",\"framing\":\"none\",",
         "quillon-send: --framing applies to TCP only; UDP datagrams go out as built\n$"},
    };
    for (const auto &[args, exitCode, out, err] : cases) {
        const Outcome outcome = RunProgram(args, QByteArray::fromStdString(input));
        EXPECT_EQ(outcome.exitCode, exitCode) << args.front() << outcome.err;
        EXPECT_TRUE(std::regex_search(outcome.out, std::regex("^" + out))) << outcome.out;
        EXPECT_TRUE(std::regex_search(outcome.err, std::regex("^" + err))) << outcome.err;
        ParsedJson(outcome.out);
    }
    EXPECT_TRUE(udp.WaitForDatagrams(3));
    EXPECT_EQ(udp.Datagrams(), (std::vector<std::string>{"<13>ok", "<13>" + input, "<13>w"}));
}

// Handshakes with loopback TLS servers: the exit status, the reason in the
// user's words, nothing counted as sent when a handshake fails, and files
// that cannot be used named with their flag before anything connects.
TEST(Program, TlsHandshakesAndFilesSayWhatWentWrong)
{
    const TestCertificates &certs = MadeCertificates();
    const auto serve = [&certs](const std::string &certificate, bool requireClient, bool ipv6) {
        TlsLoopbackServer::Options options;
        options.certFile = certificate;
        options.keyFile = certs.serverKey;
        options.caFile = requireClient ? certs.caFile : "";
        options.requireClientCertificate = requireClient;
        options.ipv6 = ipv6;
        return std::make_unique<TlsLoopbackServer>(options);
    };
    const auto plain = serve(certs.serverCert, false, false), expired = serve(certs.expiredCert, false, false),
               mutual = serve(certs.serverCert, true, false), v6 = serve(certs.serverCert, false, true);
    const std::string port = std::to_string(plain->Port()), ca = certs.caFile,
                      failed = "quillon-send: TLS handshake "
                               "failed: ";
    const std::string verifyFailed = failed + "certificate verify failed: ";
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--port", port, "--ca-file", ca, "--json"},
         0,
         "\\{.*\"tls_cipher\":\"TLS_[A-Z0-9_]+\",\"tls_version\":\"TLSv1\\.3\",\"transport\":\"tls\"",
         "$"},
        {{"--port", port}, 1, "0 messages sent, 0 failed", verifyFailed + "unable to get local issuer certificate\n$"},
        {{"--port", port, "--ca-file", ca, "--server-name", "other.example"},
         1,
         "",
         verifyFailed + "hostname mismatch \\(the certificate is not for other\\.example\\)\n$"},
        {{"--port", std::to_string(expired->Port()), "--ca-file", ca},
         1,
         "",
         verifyFailed + "certificate has expired\n$"},
        {{"--port", std::to_string(mutual->Port()), "--ca-file", ca, "--json"},
         1,
         "\\{.*\"sent\":0,.*\"tls_cipher\":null,\"tls_version\":null,",
         failed + "the server requires a client certificate\n$"},
        {{"--port", std::to_string(mutual->Port()), "--ca-file", ca, "--cert", certs.clientCert, "--key",
          certs.clientKey},
         0,
         "1 message sent, 0 failed in [0-9.]+ s, 8 bytes, over TLSv1\\.3 with TLS_",
         "$"},
        {{"--port", port, "--cert", certs.clientCert, "--key", certs.serverKey},
         2,
         "$",
         "quillon-send: --key: the key in .+ does not match the certificate in .+\n$"},
        {{"--port", port, "--ca-file", "/nonexistent/ca.pem"},
         2,
         "$",
         "quillon-send: --ca-file: cannot read the CA file /nonexistent/ca.pem: No such file or directory\n$"},
        {{"--port", port, "--insecure", "--quiet"},
         0,
         "$",
         "quillon-send: TLS without verification: the server's certificate and name are not checked\n$"},
        {{"--port", std::to_string(v6->Port()), "--target", "::1", "--ca-file", ca, "--tls-min", "1.3"},
         0,
         "1 message sent",
         "$"},
    };
    for (const auto &[flags, exitCode, out, err] : cases) {
        std::vector<std::string> args = {"--transport", "tls", "--priority", "13", "--message", "hi"};
        args.insert(args.end(), flags.begin(), flags.end());
        const Outcome outcome = RunProgram(args, {});
        EXPECT_EQ(outcome.exitCode, exitCode) << flags[1] << ' ' << flags[2] << outcome.err;
        EXPECT_TRUE(std::regex_search(outcome.out, std::regex("^" + out))) << outcome.out;
        EXPECT_TRUE(std::regex_search(outcome.err, std::regex("^" + err))) << outcome.err;
        ParsedJson(outcome.out);
    }
    // The latest session of each server that let one through: octet-counted.
    for (const auto *server : {plain.get(), mutual.get(), v6.get()}) {
        EXPECT_TRUE(server->WaitForBytes(8));
        EXPECT_EQ(server->Bytes(), "6 <13>hi");
    }
    EXPECT_EQ(expired->ByteCount(), 0u);
}

// A terminal echoes the Ctrl-C where the summary would begin, so there the
// summary starts on a line of its own.
TEST(Program, StopSignalsEndTheRunWithTheSummary)
{
    const std::tuple<int, bool, std::string> cases[] = {
        {SIGINT, false, "{"}, {SIGTERM, false, "{"}, {SIGINT, true, "\r\n{"}};
    for (const auto &[signalNumber, terminal, start] : cases) {
        UdpReceiver udp;
        QProcess program;
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave, 0);
        if (terminal)
            program.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO); });
        Start(program, {"--port", std::to_string(udp.Port()), "--every-minute", "--json"});
        ASSERT_TRUE(udp.WaitForDatagrams(1));
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        Outcome outcome = Finish(program);
        char chunk[4096];
        for (ssize_t got; (got = ::read(master, chunk, sizeof chunk)) > 0;)
            outcome.out.append(chunk, static_cast<std::size_t>(got));
        ::close(slave);
        ::close(master);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.out.rfind(start, 0), 0u) << outcome.out;
        if (!terminal) {
            const QJsonObject json = ParsedJson(outcome.out);
            EXPECT_EQ(json.value(QStringLiteral("sent")).toInt(), 1) << outcome.out;
            EXPECT_EQ(json.value(QStringLiteral("stopped_by")).toString(), QStringLiteral("signal"));
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
            const Outcome outcome = RunProgram(args, {});
            EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
            const auto sent =
                static_cast<std::size_t>(ParsedJson(outcome.out).value(QStringLiteral("bytes")).toInteger());
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
} // namespace
