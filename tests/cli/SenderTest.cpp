#include "cli/CommandLine.h"
#include "cli/RunSender.h"
#include "support/LoopbackReceivers.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

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

TEST(Sender, UdpDatagramsCarryTheComposedBytesAndTheSummaryCountsThem)
{
    QTemporaryDir folder;
    const std::string multiLine = WriteFile(folder, "multi.txt", "line one\nline two");
    const std::string source = WriteFile(folder, "source.txt", "a\tb\tc\tfirst\r\nhex=41ff00\r\n");
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {{"--facility", "local3", "--level", "notice", "--message", "Hello", "--source-address", "10.1.2.3"},
         {"<157>Original Address=10.1.2.3 Hello"}},
        {{"--priority", "255", "--message", "x", "--oversize", "--crlf"}, {"<255>x" + std::string(2048, ' ') + "\r\n"}},
        {{"--rfc-header", "--message", "HEX=3c31333e4869"}, {"<13>Hi"}},
        {{"--priority", "13", "--multiline-file", multiLine}, {"<13>line one\nline two"}},
        {{"--priority", "13", "--source-file", source, "--burst", "100", "--count", "3"},
         {"<13>first", std::string("A\xff\0", 3), "<13>first"}},
    };
    for (const auto &[args, packets] : cases) {
        UdpReceiver receiver;
        const RunSummary summary = SendWith(args, receiver.Port());
        ASSERT_TRUE(receiver.WaitForDatagrams(packets.size())) << args[1];
        EXPECT_EQ(receiver.Datagrams(), packets);
        std::int64_t bytes = 0;
        for (const std::string &packet : packets)
            bytes += static_cast<std::int64_t>(packet.size());
        EXPECT_TRUE(summary.sent == std::int64_t(packets.size()) && summary.bytes == bytes && summary.failed == 0);
        EXPECT_EQ(summary.exitStatus, 0) << summary.error;
    }
}

TEST(Sender, TcpStreamHoldsThePacketsBackToBack)
{
    TcpReceiver receiver;
    const RunSummary summary = SendWith(
        {"--transport", "tcp", "--crlf", "--priority", "13", "--message", Numbered, "--unlimited", "--count", "1000"},
        receiver.Port());
    std::string expected;
    for (int i = 1; i <= 1000; ++i)
        expected += "<13>This is Syslog test message number " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(receiver.WaitForBytes(expected.size()));
    EXPECT_EQ(receiver.Bytes(), expected);
    EXPECT_TRUE(summary.sent == 1000 && summary.bytes == std::int64_t(expected.size()) && summary.exitStatus == 0);
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
    const RunSummary summary =
        SendWith({"--transport", "tcp", "--rate", "500", "--duration", "20"}, server.serverPort());
    EXPECT_EQ(summary.stoppedBy, "connection");
    EXPECT_EQ(summary.exitStatus, 1);
    EXPECT_NE(summary.error.find("TCP session"), std::string::npos) << summary.error;
    EXPECT_GE(summary.sent, 1);
}
TEST(Sender, ReceiverThatStopsReadingEndsTheRun)
{
    // Listens but never accepts: the kernel takes what fits its buffers, then nothing.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    const RunSummary summary =
        SendWith({"--transport", "tcp", "--unlimited", "--duration", "30"}, ntohs(address.sin_port));
    ::close(listener);
    EXPECT_EQ(summary.exitStatus, 1);
    EXPECT_NE(summary.error.find("stopped taking data"), std::string::npos) << summary.error;
    EXPECT_LT(summary.elapsedSeconds, 10);
    EXPECT_GT(summary.bytes, 0);
}
} // namespace
