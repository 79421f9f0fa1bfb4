#include "cli/recv/RecvProcess.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);
const QString RecvPath = QStringLiteral(QUILLON_RECV_PATH);

std::vector<std::string> Listen(int port, std::vector<std::string> more)
{
    std::vector<std::string> args = {"--listen", "relp", "--bind", "127.0.0.1", "--port", std::to_string(port)};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Over two sessions and a small window, every message is acknowledged: the
// receiver counts each it answered, the sender each answer it read, and the
// stamps show every message arrived once.
TEST(RelpChain, EveryMessageIsAcknowledgedOnBothSides)
{
    constexpr int Count = 20000;
    Receiver receiver(Listen(0, {"--expect", std::to_string(Count), "--idle", "10", "--json"}));
    const Outcome sent = RunToEnd(SendPath, {"--port", std::to_string(receiver.Port()), "--transport", "relp",
                                             "--relp-window", "16", "--connections", "2", "--stamp", "--unlimited",
                                             "--count", std::to_string(Count), "--json"});
    const Outcome received = receiver.Finish();
    ASSERT_EQ(sent.exitCode, 0) << sent.err << sent.out;
    EXPECT_EQ(received.exitCode, 0) << received.err << received.out;
    EXPECT_EQ(Figure(sent.json, "acknowledged"), static_cast<std::uint64_t>(Count));
    EXPECT_EQ(Figure(sent.json, "unknown_fate"), 0u);
    EXPECT_EQ(Figure(received.json, "acknowledged"), static_cast<std::uint64_t>(Count));
    EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(Count));
    EXPECT_EQ(Figure(received.json, "lost") + Figure(received.json, "duplicates"), 0u);
    EXPECT_EQ(received.json["streams"].toArray().size(), 2);
}

// A receiver killed in the middle of a run has every message it
// acknowledged in its --output. The sender names the break, opens a session
// to the one started on the same port and goes on with its stream; what the
// killed one never answered is of unknown fate, which fails the run, and the
// new one acknowledged every message it took, up to the last.
TEST(RelpChain, ASenderReconnectsToAReceiverKilledMidRun)
{
    constexpr int Count = 6000;
    QTemporaryDir folder;
    const QString stats = folder.filePath(QStringLiteral("first.jsonl"));
    const std::string kept = folder.filePath(QStringLiteral("first.txt")).toStdString();
    Receiver first(Listen(0, {"--stats-file", stats.toStdString(), "--output", kept}));
    const int port = first.Port();
    QProcess sender;
    sender.start(SendPath, Arguments({"--port", std::to_string(port), "--transport", "relp", "--reconnect", "--stamp",
                                      "--rate", "3000", "--count", std::to_string(Count), "--json"}));
    ASSERT_TRUE(sender.waitForStarted());
    const QJsonObject seen = AwaitJsonLine(
        stats, [](const QJsonObject &line) { return line.value(QStringLiteral("total_received")).toInteger() >= 500; });
    ASSERT_GE(seen.value(QStringLiteral("total_received")).toInteger(), 500);
    first.Signal(SIGKILL);
    first.Finish();
    Receiver second(Listen(port, {"--idle", "3", "--json"}));
    const Outcome sent = Collect(sender);
    const Outcome received = second.Finish();
    const std::uint64_t unknown = Figure(sent.json, "unknown_fate");
    EXPECT_EQ(sent.exitCode, unknown > 0 ? 1 : 0) << sent.err << sent.out;
    EXPECT_NE(sent.err.find("RELP session 1: "), std::string::npos) << sent.err;
    EXPECT_GE(Figure(sent.json, "reconnects"), 1u);
    EXPECT_EQ(Figure(sent.json, "acknowledged") + unknown, static_cast<std::uint64_t>(Count));
    const std::uint64_t taken = Figure(received.json, "received");
    EXPECT_GT(taken, 0u);
    EXPECT_EQ(Figure(received.json, "acknowledged"), taken);
    EXPECT_LE(taken, Figure(sent.json, "acknowledged"));
    const QJsonArray streams = received.json["streams"].toArray();
    ASSERT_EQ(streams.size(), 1);
    EXPECT_EQ(Figure(streams[0].toObject(), "highest_seq"), static_cast<std::uint64_t>(Count));
    // The killed one answered numbers 1 up to what the second did not.
    const Outcome file = RunToEnd(RecvPath, {"--check-file", kept, "--json"});
    const QJsonArray filed = file.json["streams"].toArray();
    ASSERT_EQ(filed.size(), 1) << file.out;
    EXPECT_GE(Figure(filed[0].toObject(), "highest_seq"), Figure(sent.json, "acknowledged") - taken);
    EXPECT_EQ(Figure(file.json, "lost"), 0u) << file.out;
}
} // namespace
