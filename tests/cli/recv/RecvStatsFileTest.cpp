#include "cli/recv/RecvCommandLine.h"
#include "engine/Stamp.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
void SendDatagram(int port, const std::string &datagram)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&target), sizeof target),
        static_cast<ssize_t>(datagram.size()));
    ::close(fd);
}

TEST(RecvStatsFile, FlagNeedsAFileAndListening)
{
    EXPECT_EQ(ParseRecvCommandLine({"--stats-file="}).error, "--stats-file needs a file name");
    EXPECT_EQ(ParseRecvCommandLine({"--stats-file", "s", "--check-file", "f"}).action,
              RecvParseResult::Action::UsageError);
}

TEST(RecvStatsFile, ALineEachSecondCountsWhatArrivedAndTheGapsSoFar)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("recv.jsonl"));
    QProcess program;
    program.start(QStringLiteral(QUILLON_RECV_PATH), {"--listen", "udp", "--bind", "127.0.0.1", "--port", "0",
                                                      "--duration", "1.5", "--quiet", "--stats-file", path});
    ASSERT_TRUE(program.waitForStarted());
    while (!program.canReadLine() && program.waitForReadyRead(10000)) {
    }
    const std::string first = program.readLine().toStdString();
    const int port = std::atoi(first.substr(first.rfind(':') + 1).c_str());
    // Shard 2's stream, 3 missing.
    for (std::uint64_t seq : {1, 2, 4}) {
        std::string message = "<13>hello";
        AppendStampToken(message, Stamp{"run1", StreamId(2, 0), seq, 0});
        SendDatagram(port, message);
    }
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 1); // one lost

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    qint64 received = 0, bytes = 0;
    for (const QByteArray &line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        for (const char *key :
             {"elapsed", "epoch", "received", "mps", "bytes", "stamped", "lost_so_far", "connections"})
            EXPECT_TRUE(record.contains(QLatin1String(key))) << key << " in " << line.toStdString();
        received += record[QLatin1String("received")].toInteger();
        bytes += record[QLatin1String("bytes")].toInteger();
    }
    EXPECT_EQ(received, 3);
    EXPECT_GT(bytes, 3 * 9);
    EXPECT_EQ(QJsonDocument::fromJson(lines.back()).object()[QLatin1String("lost_so_far")].toInteger(), 1);
}
} // namespace
