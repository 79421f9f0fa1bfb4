#include "cli/recv/RecvProcess.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);
const QString RecvPath = QStringLiteral(QUILLON_RECV_PATH);

// A Unix socket bound at path; listening when asked, else closed at once,
// which leaves the file with nothing behind it.
int BindUnix(const std::string &path, int type, bool keep)
{
    const int fd = ::socket(AF_UNIX, type, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0) << path;
    if (type == SOCK_STREAM)
        ::listen(fd, 4);
    if (!keep) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string Text(const std::string &path)
{
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// quillon-send --stamp into quillon-recv over a Unix datagram socket and
// over two Unix stream connections: every message arrives once and in
// order, and the receiver removes the socket file it made.
TEST(UnixSockets, StampedRunsArriveWholeAndTheSocketFileGoes)
{
    QTemporaryDir dir;
    for (const std::string transport : {"unix-dgram", "unix-stream"}) {
        const std::string path = dir.filePath(QString::fromStdString(transport + ".sock")).toStdString();
        Receiver receiver({"--listen", transport, "--socket", path, "--expect", "6000", "--idle", "10", "--json"});
        EXPECT_EQ(receiver.FirstLine(), "listening on " + transport + " " + path + "\n");
        std::vector<std::string> args = {"--transport", transport, "--socket", path,    "--stamp",
                                         "--unlimited", "--count", "6000",     "--json"};
        if (transport == "unix-stream")
            args.insert(args.end(), {"--connections", "2", "--format", "rfc5424"});
        const Outcome sent = RunToEnd(SendPath, args);
        const Outcome received = receiver.Finish();
        EXPECT_EQ(sent.exitCode, 0) << transport << sent.err;
        EXPECT_EQ(received.exitCode, 0) << transport << received.err;
        EXPECT_EQ(Figure(received.json, "received"), 6000u) << transport;
        EXPECT_EQ(Figure(received.json, "lost") + Figure(received.json, "duplicates") +
                      Figure(received.json, "reordered") + Figure(received.json, "malformed_frames"),
                  0u)
            << transport;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path))) << transport;
    }
}

// A Unix datagram may be longer than a UDP one: up to --max-frame it is
// taken, a longer one is counted and fails the run.
TEST(UnixSockets, DatagramsAreTakenUpToTheLongestFrame)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("dgram.sock").toStdString();
    for (const auto &[maxFrame, oversize] : {std::pair{"65536", 1u}, std::pair{"100000", 0u}}) {
        Receiver receiver({"--listen", "unix-dgram", "--socket", path, "--max-frame", maxFrame, "--json"});
        EXPECT_EQ(RunToEnd(SendPath, {"--transport", "unix-dgram", "--socket", path, "--size", "100000"}).exitCode, 0);
        // What the socket holds at the stop is still taken.
        receiver.Signal(SIGTERM);
        const Outcome outcome = receiver.Finish();
        EXPECT_EQ(outcome.exitCode, static_cast<int>(oversize)) << outcome.err;
        EXPECT_EQ(Figure(outcome.json, "oversize_frames"), oversize);
        EXPECT_EQ(Figure(outcome.json, "bytes"), (1 - oversize) * 100000);
    }
}

// A receiver killed outright leaves its socket file behind; the next one
// replaces it, and the sender's --reconnect finds it there and carries the
// stream on to its end.
TEST(UnixSockets, AStreamReconnectsToTheReceiverThatReplacedAKilledOne)
{
    constexpr int Count = 10000;
    QTemporaryDir dir;
    const std::string path = dir.filePath("stream.sock").toStdString();
    auto receiver =
        std::make_unique<Receiver>(std::vector<std::string>{"--listen", "unix-stream", "--socket", path, "--progress"});
    QProcess sender;
    sender.start(SendPath, Arguments({"--transport", "unix-stream", "--socket", path, "--rate", "5000", "--count",
                                      std::to_string(Count), "--stamp", "--reconnect", "--json"}));
    ASSERT_TRUE(sender.waitForStarted());
    // The first progress line: a second of messages has arrived.
    ASSERT_TRUE(receiver->WaitForLine(""));
    receiver->Signal(SIGKILL);
    receiver->Finish();
    ASSERT_TRUE(QFileInfo(QString::fromStdString(path)).exists());
    receiver = std::make_unique<Receiver>(
        std::vector<std::string>{"--listen", "unix-stream", "--socket", path, "--idle", "1", "--json"});
    const Outcome sent = Collect(sender);
    const Outcome received = receiver->Finish();
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(Figure(sent.json, "sent"), static_cast<std::uint64_t>(Count));
    EXPECT_GE(Figure(sent.json, "reconnects"), 1u);
    const QJsonArray streams = received.json["streams"].toArray();
    ASSERT_EQ(streams.size(), 1) << received.out;
    EXPECT_EQ(Figure(streams[0].toObject(), "highest_seq"), static_cast<std::uint64_t>(Count));
    EXPECT_GT(Figure(received.json, "received"), 0u);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
}

// The receiver makes its socket only where nothing is, or where a socket
// file is left that nothing listens on; it never removes a file it did
// not make, even one put in place of its own while it ran.
TEST(UnixSockets, ForeignFilesAreLeftAndStaleSocketsReplaced)
{
    QTemporaryDir dir;
    const auto at = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)).toStdString(); };
    const std::string plain = at("plain"), live = at("live.sock"), stale = at("stale.sock"), moved = at("moved.sock");
    std::ofstream(plain) << "keep";
    const int liveFd = BindUnix(live, SOCK_STREAM, true);
    BindUnix(stale, SOCK_DGRAM, false);

    const std::tuple<std::vector<std::string>, std::string> refused[] = {
        {{"--listen", "unix-dgram", "--socket", plain}, "--socket: '" + plain + "' exists and is not a socket"},
        {{"--listen", "unix-dgram", "--socket", live}, "is the socket of a process that listens on it"},
        {{"--listen", "unix-dgram", "--socket", stale, "--port", "5", "--bind", "::1"},
         "--port and --bind do not apply to --listen unix-dgram"},
        {{"--socket", stale}, "--socket names a Unix socket: add --listen unix-dgram or --listen unix-stream"},
        {{"--listen", "unix-stream"}, "--listen unix-stream needs --socket PATH"},
    };
    for (const auto &[args, error] : refused) {
        const Outcome outcome = RunToEnd(RecvPath, args);
        EXPECT_EQ(outcome.exitCode, 2) << args[3];
        EXPECT_NE(outcome.err.find(error), std::string::npos) << outcome.err;
    }
    EXPECT_EQ(Text(plain), "keep");
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(live)));
    ::close(liveFd);

    // The stale socket replaced, then the receiver's own, each removed at the end.
    for (const int signalNumber : {SIGTERM, SIGHUP}) {
        Receiver receiver({"--listen", "unix-stream", "--socket", stale, "--expect", "0"});
        EXPECT_EQ(receiver.FirstLine(), "listening on unix-stream " + stale + "\n");
        receiver.Signal(signalNumber);
        EXPECT_EQ(receiver.Finish().exitCode, 0) << signalNumber;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(stale))) << signalNumber;
    }
    Receiver receiver({"--listen", "unix-dgram", "--socket", moved});
    ASSERT_EQ(::unlink(moved.c_str()), 0);
    std::ofstream(moved) << "someone's";
    receiver.Signal(SIGTERM);
    receiver.Finish();
    EXPECT_EQ(Text(moved), "someone's");
}
} // namespace
