#include "cli/recv/RecvProcess.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include <sys/resource.h>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);
const QString RecvPath = QStringLiteral(QUILLON_RECV_PATH);

std::set<std::uint64_t> StreamsOf(const QJsonObject &json)
{
    std::set<std::uint64_t> streams;
    for (const QJsonValue &stream : json["streams"].toArray())
        streams.insert(Figure(stream.toObject(), "stream"));
    return streams;
}

// Each process of the chain holds a thousand sockets, children inherit the limit.
TEST(LoadChain, AThousandConnectionsDeliverEveryMessage)
{
    constexpr int Connections = 1000;
    constexpr int Count = 5000;
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < Connections + 100)
        GTEST_SKIP() << "open files are limited to " << limit.rlim_cur << "; " << Connections
                     << " connections need more";
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--expect", std::to_string(Count),
                       "--idle", "10", "--json"});
    const Outcome sent = RunToEnd(SendPath, {"--port", std::to_string(receiver.Port()), "--transport", "tcp",
                                             "--connections", std::to_string(Connections), "--unlimited", "--count",
                                             std::to_string(Count), "--stamp", "--json"});
    const Outcome received = receiver.Finish();
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(received.exitCode, 0) << received.err;
    EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(Count));
    EXPECT_EQ(Figure(received.json, "lost"), 0u);
    EXPECT_EQ(Figure(received.json, "connections"), static_cast<std::uint64_t>(Connections));
    const std::set<std::uint64_t> streams = StreamsOf(sent.json);
    EXPECT_EQ(streams.size(), static_cast<std::size_t>(Connections));
    EXPECT_EQ(*streams.begin(), 1u);
    EXPECT_EQ(*streams.rbegin(), static_cast<std::uint64_t>(Connections));
    EXPECT_EQ(StreamsOf(received.json), streams);
    EXPECT_EQ(sent.json["connections"].toArray().size(), Connections);
}

// The receiver is stopped mid-run and a new one takes its port: the session
// is opened again, its stream goes on, and what the sender counts as of
// unknown fate covers what the two receivers together report lost.
TEST(LoadChain, ReconnectedStreamGoesOnAndUnknownFateMatchesLoss)
{
    constexpr int Count = 10000;
    QTemporaryDir dir;
    const std::string first = dir.filePath("first.txt").toStdString();
    const std::string second = dir.filePath("second.txt").toStdString();
    auto receiver = std::make_unique<Receiver>(std::vector<std::string>{
        "--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--output", first, "--progress"});
    const std::string port = std::to_string(receiver->Port());
    QProcess sender;
    sender.start(SendPath, Arguments({"--port", port, "--transport", "tcp", "--rate", "5000", "--count",
                                      std::to_string(Count), "--stamp", "--reconnect", "--json"}));
    ASSERT_TRUE(sender.waitForStarted());
    // The first progress line: a second of messages has arrived.
    ASSERT_TRUE(receiver->WaitForLine(""));
    receiver->Signal(SIGTERM);
    EXPECT_EQ(receiver->Finish().exitCode, 0);
    receiver = std::make_unique<Receiver>(
        std::vector<std::string>{"--listen", "tcp", "--bind", "127.0.0.1", "--port", port, "--output", second});
    const Outcome sent = Collect(sender);
    receiver->Signal(SIGTERM);
    receiver->Finish();
    const Outcome checked =
        RunToEnd(RecvPath, {"--check-file", "-", "--json"},
                 QByteArray::fromStdString(FileText(dir.filePath("first.txt")) + FileText(dir.filePath("second.txt"))));
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(Figure(sent.json, "sent"), static_cast<std::uint64_t>(Count));
    EXPECT_GE(Figure(sent.json, "reconnects"), 1u);
    const QJsonObject connection = sent.json["connections"].toArray()[0].toObject();
    EXPECT_EQ(Figure(connection, "unknown_fate"), Figure(sent.json, "unknown_fate"));
    const QJsonArray streams = checked.json["streams"].toArray();
    ASSERT_EQ(streams.size(), 1) << checked.out;
    EXPECT_EQ(Figure(streams[0].toObject(), "highest_seq"), static_cast<std::uint64_t>(Count));
    EXPECT_LE(Figure(checked.json, "lost"), Figure(sent.json, "unknown_fate")) << checked.out;
    EXPECT_EQ(Figure(checked.json, "duplicates"), 0u);
}

// A receiver stopped under a sender at full speed reads every byte its
// system acknowledged before it closes, so nothing the sender took for
// arrived is missing: what did not arrive is within the unknown fate.
TEST(LoadChain, AReceiverStoppedMidStreamKeepsEveryAcknowledgedMessage)
{
    QTemporaryDir dir;
    const QString stats = dir.filePath("stats.jsonl");
    Receiver receiver(
        {"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--json", "--stats-file", stats.toStdString()});
    QProcess sender;
    sender.start(SendPath, Arguments({"--port", std::to_string(receiver.Port()), "--transport", "tcp", "--unlimited",
                                      "--count", "1000000000", "--stamp", "--json"}));
    ASSERT_TRUE(sender.waitForStarted());
    AwaitJsonLine(stats, [](const QJsonObject &line) {
        return line.contains("total_received") && Figure(line, "total_received") > 100000;
    });
    receiver.Signal(SIGTERM);
    const Outcome received = receiver.Finish();
    const Outcome sent = Collect(sender);
    EXPECT_EQ(sent.exitCode, 1) << sent.err;
    EXPECT_EQ(Figure(received.json, "duplicates"), 0u);
    EXPECT_LE(Figure(received.json, "received"), Figure(sent.json, "sent"));
    EXPECT_GE(Figure(received.json, "received") + Figure(sent.json, "unknown_fate"), Figure(sent.json, "sent"))
        << received.out << sent.out;
}

// Two threads send streams 1 and 2 with random texts of their own; a second
// run with the same seed sends the same messages. (Two threads over UDP:
// SeveralTargetsAndPortsEachReceiveTheirShare.)
TEST(LoadChain, TwoThreadsArriveWholeAndRepeat)
{
    constexpr int Count = 2000;
    std::vector<std::multiset<std::string>> runs;
    for (int run = 0; run < 2; ++run) {
        QTemporaryDir dir;
        const QString output = dir.filePath("out.txt");
        Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--expect", std::to_string(Count),
                           "--idle", "10", "--json", "--output", output.toStdString()});
        const Outcome sent =
            RunToEnd(SendPath, {"--port", std::to_string(receiver.Port()), "--transport", "tcp", "--threads", "2",
                                "--rate", "20000", "--count", std::to_string(Count), "--seed", "7", "--message",
                                "Random string of text", "--stamp", "--run-id", "twin", "--json"});
        const Outcome received = receiver.Finish();
        EXPECT_EQ(sent.exitCode, 0) << sent.err;
        EXPECT_EQ(Figure(sent.json, "threads"), 2u);
        EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(Count));
        EXPECT_EQ(Figure(received.json, "lost"), 0u);
        EXPECT_EQ(StreamsOf(received.json), (std::set<std::uint64_t>{1, 2}));
        // The send time is the one part that differs from run to run.
        const std::regex time(":[0-9]+$");
        std::multiset<std::string> lines;
        std::istringstream text(FileText(output));
        for (std::string line; std::getline(text, line);)
            lines.insert(std::regex_replace(line, time, ""));
        runs.push_back(std::move(lines));
    }
    EXPECT_EQ(runs[0], runs[1]);
    const auto bodyOf = [&](std::string_view stream) {
        for (const std::string &line : runs[0])
            if (line.find(std::string("quillon=twin:") + std::string(stream) + ":1") != std::string::npos)
                return line.substr(0, line.find(" quillon="));
        return std::string();
    };
    EXPECT_NE(bodyOf("1"), bodyOf("2"));
}

// Every target and port takes an even share of the messages as streams of
// its own, which reach its receiver whole: over UDP three ports from two
// threads, over TCP two targets at one port, each with an idle session too.
TEST(LoadChain, SeveralTargetsAndPortsEachReceiveTheirShare)
{
    constexpr int Count = 6000;
    const struct {
        std::string transport;
        std::vector<std::string> hosts;
        std::size_t ports;
        std::vector<std::string> flags;
        std::uint64_t connectionsEach;
    } cases[] = {
        {"udp", {"127.0.0.1"}, 3, {"--threads", "2", "--rate", "20000"}, 0},
        {"tcp", {"127.0.0.1", "::1"}, 1, {"--connections", "4", "--idle-connections", "2", "--unlimited"}, 3},
    };
    for (const auto &c : cases) {
        const std::uint64_t share = Count / (c.hosts.size() * c.ports);
        std::vector<std::unique_ptr<Receiver>> receivers;
        std::vector<std::string> args = {"--transport",         c.transport, "--count",
                                         std::to_string(Count), "--stamp",   "--json"};
        std::string ports;
        for (const std::string &host : c.hosts) {
            args.insert(args.end(), {"--target", host});
            for (std::size_t p = 0; p < c.ports; ++p) {
                // The second host listens at the first one's ports.
                const bool first = receivers.size() < c.ports;
                receivers.push_back(std::make_unique<Receiver>(
                    std::vector<std::string>{"--listen", c.transport, "--bind", host, "--port",
                                             first ? "0" : std::to_string(receivers[p]->Port()), "--expect",
                                             std::to_string(share), "--idle", "10", "--json"}));
                if (first)
                    ports += (ports.empty() ? "" : ",") + std::to_string(receivers.back()->Port());
            }
        }
        args.insert(args.end(), {"--port", ports});
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        const Outcome sent = RunToEnd(SendPath, args);
        EXPECT_EQ(sent.exitCode, 0) << c.transport << sent.err;
        const QJsonArray targets = sent.json["targets"].toArray();
        ASSERT_EQ(static_cast<std::size_t>(targets.size()), receivers.size()) << sent.out;
        for (std::size_t k = 0; k < receivers.size(); ++k) {
            const Outcome received = receivers[k]->Finish();
            const QJsonObject target = targets[static_cast<qsizetype>(k)].toObject();
            EXPECT_EQ(target["target"].toString().toStdString(), c.hosts[k / c.ports]);
            EXPECT_EQ(Figure(target, "port"), static_cast<std::uint64_t>(receivers[k]->Port()));
            EXPECT_EQ(Figure(target, "sent"), share) << c.transport << k;
            EXPECT_EQ(Figure(received.json, "received"), share) << c.transport << k;
            EXPECT_EQ(Figure(received.json, "lost") + Figure(received.json, "duplicates"), 0u) << c.transport << k;
            EXPECT_EQ(Figure(received.json, "connections"), c.connectionsEach) << c.transport << k;
            std::set<std::uint64_t> named;
            for (const QJsonValue &stream : target["streams"].toArray())
                named.insert(static_cast<std::uint64_t>(stream.toInteger()));
            EXPECT_EQ(named.size(), 2u) << c.transport << k;
            EXPECT_EQ(StreamsOf(received.json), named) << c.transport << k;
        }
    }
}

// Sessions closed and opened again at random after their batches go on with
// their streams: a receiver that reads everything misses nothing, and sees
// a session for each drop.
TEST(LoadChain, DroppedConnectionsLoseNothing)
{
    constexpr int Count = 6000;
    Receiver receiver({"--listen", "tcp", "--bind", "127.0.0.1", "--port", "0", "--expect", std::to_string(Count),
                       "--idle", "10", "--json"});
    const Outcome sent = RunToEnd(SendPath, {"--port", std::to_string(receiver.Port()), "--transport", "tcp",
                                             "--connections", "2", "--drop-connections", "0.2", "--seed", "3", "--rate",
                                             "20000", "--count", std::to_string(Count), "--stamp", "--json"});
    const Outcome received = receiver.Finish();
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    const std::uint64_t drops = Figure(sent.json, "dropped_connections");
    EXPECT_GE(drops, 10u) << sent.out;
    EXPECT_EQ(Figure(sent.json, "reconnects") + Figure(sent.json, "unknown_fate"), 0u) << sent.out;
    EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(Count)) << received.out;
    EXPECT_EQ(Figure(received.json, "lost") + Figure(received.json, "duplicates"), 0u) << received.out;
    EXPECT_EQ(StreamsOf(received.json), (std::set<std::uint64_t>{1, 2}));
    // The sessions of the last drops may not have come up again by the end.
    EXPECT_GE(Figure(received.json, "connections"), drops);
    EXPECT_LE(Figure(received.json, "connections"), drops + 2);
}
} // namespace
