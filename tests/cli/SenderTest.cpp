#include "cli/CommandLine.h"
#include "cli/RunSender.h"
#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {
Options Parsed(std::vector<std::string> args)
{
    const ParseResult result = ParseCommandLine(args);
    EXPECT_EQ(result.action, ParseResult::Action::Run) << result.error;
    return result.options;
}

RunSummary SendWith(const Options &options, std::string *errors = nullptr)
{
    std::ostringstream out;
    std::ostringstream err;
    const RunSummary summary = RunSender(options, out, err);
    if (errors)
        *errors = err.str();
    return summary;
}

std::string WriteFile(const QTemporaryDir &folder, const char *name, const std::string &bytes)
{
    const std::string path = folder.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

const std::string Numbered = "This is Syslog test message number ####";

TEST(Sender, UdpDatagramsCarryTheComposedBytesAndTheSummaryCountsThem)
{
    QTemporaryDir folder;
    const std::string multiLine = WriteFile(folder, "multi.txt", "line one\nline two");
    const std::string source = WriteFile(folder, "source.txt", "a\tb\tc\tfirst\r\nhex=41ff00\r\n");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> packets;
    };
    const Case cases[] = {
        {{"--priority", "13", "--message", Numbered, "--unlimited", "--count", "3"},
         {"<13>This is Syslog test message number 1", "<13>This is Syslog test message number 2",
          "<13>This is Syslog test message number 3"}},
        {{"--facility", "local3", "--level", "notice", "--message", "Hello", "--source-address", "10.1.2.3"},
         {"<157>Original Address=10.1.2.3 Hello"}},
        {{"--priority", "255", "--message", "x", "--oversize", "--crlf"}, {"<255>x" + std::string(2048, ' ') + "\r\n"}},
        {{"--no-priority", "--message", "bare"}, {"bare"}},
        {{"--rfc-header", "--message", "HEX=3c31333e4869"}, {"<13>Hi"}},
        {{"--priority", "13", "--multiline-file", multiLine}, {"<13>line one\nline two"}},
        {{"--priority", "13", "--source-file", source, "--rate", "1000", "--count", "3"},
         {"<13>first", std::string("A\xff\0", 3), "<13>first"}},
    };
    for (const Case &c : cases) {
        UdpReceiver receiver;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--port", std::to_string(receiver.Port())});
        const RunSummary summary = SendWith(Parsed(args));
        ASSERT_TRUE(receiver.WaitForDatagrams(c.packets.size())) << c.args[1];
        EXPECT_EQ(receiver.Datagrams(), c.packets);
        std::int64_t bytes = 0;
        for (const std::string &packet : c.packets)
            bytes += static_cast<std::int64_t>(packet.size());
        EXPECT_EQ(summary.sent, static_cast<std::int64_t>(c.packets.size()));
        EXPECT_EQ(summary.bytes, bytes);
        EXPECT_EQ(summary.failed, 0);
        EXPECT_EQ(summary.exitStatus, 0) << summary.error;
    }
}

TEST(Sender, PrintsAStatusLineEachSecondAndTheSummary)
{
    UdpReceiver receiver;
    std::ostringstream out, err;
    const RunSummary summary =
        RunSender(Parsed({"--rate", "200", "--duration", "1.2", "--port", std::to_string(receiver.Port())}), out, err);
    std::istringstream lines(out.str());
    std::string progress, last;
    std::getline(lines, progress);
    std::getline(lines, last);
    EXPECT_TRUE(std::regex_match(progress, std::regex(R"(\d+ messages sent, \d+ MPS)"))) << out.str();
    EXPECT_EQ(last.rfind(std::to_string(summary.sent) + " messages sent, 0 failed in ", 0), 0u) << out.str();
    EXPECT_EQ(summary.stoppedBy, "duration");
}

TEST(Sender, BurstSendsItsPacketsAtOnceInOrder)
{
    UdpReceiver receiver;
    const RunSummary summary = SendWith(Parsed({"--burst", "500", "--count", "500", "--priority", "13", "--message",
                                                Numbered, "--port", std::to_string(receiver.Port())}));
    ASSERT_TRUE(receiver.WaitForDatagrams(500));
    EXPECT_EQ(summary.sent, 500);
    EXPECT_EQ(summary.stoppedBy, "count");
    EXPECT_EQ(receiver.Datagrams()[0], "<13>This is Syslog test message number 1");
    EXPECT_EQ(receiver.Datagrams()[499], "<13>This is Syslog test message number 500");
}

TEST(Sender, TcpStreamHoldsThePacketsBackToBack)
{
    TcpReceiver receiver;
    const RunSummary summary =
        SendWith(Parsed({"--transport", "tcp", "--crlf", "--priority", "13", "--message", Numbered, "--unlimited",
                         "--count", "1000", "--port", std::to_string(receiver.Port())}));
    std::string expected;
    for (int i = 1; i <= 1000; ++i)
        expected += "<13>This is Syslog test message number " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(receiver.WaitForBytes(expected.size()));
    EXPECT_EQ(receiver.Bytes(), expected);
    EXPECT_EQ(summary.sent, 1000);
    EXPECT_EQ(summary.bytes, static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(summary.exitStatus, 0) << summary.error;
}

TEST(Sender, FailuresEndTheRunWithStatusOne)
{
    TcpReceiver refusing;
    const std::string refusedPort = std::to_string(refusing.Port());
    refusing.StopListening();
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--transport", "tcp", "--port", refusedPort}, "TCP Session failed to connect to"},
        {{"--transport", "tcp", "--target", "nohost.invalid"}, "TCP Session failed to connect to nohost.invalid"},
        {{"--target", "nohost.invalid", "--unlimited", "--count", "100"}, "nothing could be sent to nohost.invalid"},
    };
    for (const Case &c : cases) {
        std::string errors;
        const RunSummary summary = SendWith(Parsed(c.args), &errors);
        EXPECT_EQ(summary.exitStatus, 1);
        EXPECT_EQ(summary.sent, 0);
        EXPECT_EQ(summary.error.rfind(c.error, 0), 0u) << summary.error;
        EXPECT_NE(errors.find("quillon-send: " + c.error), std::string::npos) << errors;
    }
}

TEST(Sender, PeerClosingTheSessionStopsTheRun)
{
    // Hangs up as soon as the first bytes arrive.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [&server] {
        QTcpSocket *socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->abort(); });
    });
    const RunSummary summary = SendWith(Parsed(
        {"--transport", "tcp", "--rate", "500", "--duration", "20", "--port", std::to_string(server.serverPort())}));
    EXPECT_EQ(summary.stoppedBy, "connection");
    EXPECT_EQ(summary.exitStatus, 1);
    EXPECT_NE(summary.error.find("TCP session"), std::string::npos) << summary.error;
    EXPECT_GE(summary.sent, 1);
}

TEST(Sender, UnreadableFilesAreUsageErrors)
{
    const RunSummary missing = SendWith(Parsed({"--source-file", "/nonexistent/messages.txt"}));
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_EQ(missing.error, "--source-file: cannot open '/nonexistent/messages.txt'");
    const RunSummary noText = SendWith(Parsed({"--multiline-file", "/nonexistent/text.txt"}));
    EXPECT_EQ(noText.exitStatus, 2);
    EXPECT_EQ(noText.sent + noText.failed, 0);
}
} // namespace
