#include "cli/recv/RecvProcess.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {
const QString SendPath = QStringLiteral(QUILLON_SEND_PATH);

std::string ReadFile(const QString &path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// quillon-send --stamp into quillon-recv: both end with 0, and the receiver
// names the sender's run and stream with every message received.
TEST(StampedChain, WhatTheSenderStampsArrivesWhole)
{
    const std::tuple<std::string, std::vector<std::string>, int> cases[] = {
        {"udp", {"--rate", "10000", "--facility", "random"}, 2000},
        {"tcp", {"--unlimited", "--message", "Random string of text"}, 20000},
        {"udp", {"--rate", "10000", "--format", "rfc5424"}, 2000},
        {"tcp", {"--unlimited", "--format", "rfc5424", "--sd", "[a@1 b=\"c\"]", "--framing", "octet-count"}, 20000},
    };
    for (const auto &[transport, flags, count] : cases) {
        Receiver receiver({"--listen", transport, "--bind", "127.0.0.1", "--port", "0", "--expect",
                           std::to_string(count), "--idle", "10", "--json"});
        std::vector<std::string> args = {"--port",  std::to_string(receiver.Port()), "--transport", transport,
                                         "--count", std::to_string(count),           "--stamp",     "--json"};
        args.insert(args.end(), flags.begin(), flags.end());
        const Outcome sent = RunToEnd(SendPath, args);
        const Outcome received = receiver.Finish();
        EXPECT_EQ(sent.exitCode, 0) << transport << sent.err;
        EXPECT_EQ(received.exitCode, 0) << transport << received.err << received.out;
        const std::string run = sent.json.value("run_id").toString().toStdString();
        EXPECT_EQ(run.size(), 12u) << sent.out;
        const QJsonObject sentStream = sent.json["streams"].toArray()[0].toObject();
        EXPECT_EQ(Figure(sentStream, "stream"), 1u);
        EXPECT_EQ(Figure(sentStream, "last_seq"), static_cast<std::uint64_t>(count));
        EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(count)) << transport;
        EXPECT_EQ(Figure(received.json, "lost") + Figure(received.json, "duplicates"), 0u) << transport;
        EXPECT_EQ(Figure(received.json, "malformed_frames") + Figure(received.json, "malformed_stamps"), 0u);
        const QJsonArray streams = received.json["streams"].toArray();
        ASSERT_EQ(streams.size(), 1) << transport;
        EXPECT_EQ(streams[0].toObject().value("run").toString().toStdString(), run);
        EXPECT_EQ(Figure(streams[0].toObject(), "stream"), 1u);
        EXPECT_EQ(Figure(streams[0].toObject(), "highest_seq"), static_cast<std::uint64_t>(count));
    }
}

// A replayed file is stamped line by line, but its "HEX=" packet goes out
// exactly as written and takes no sequence number.
TEST(StampedChain, FileLinesAreStampedAndHexPacketsLeftAlone)
{
    QTemporaryDir dir;
    const QString source = dir.filePath("source.txt");
    std::ofstream(source.toStdString(), std::ios::binary)
        << "a\tb\tc\t<13>first line\nHEX=3c31333e686578\na\tb\tc\t<13>second line\n";
    const QString output = dir.filePath("received.txt");
    Receiver receiver({"--bind", "127.0.0.1", "--port", "0", "--expect", "4", "--idle", "10", "--json", "--output",
                       output.toStdString(), "--raw"});
    const Outcome sent = RunToEnd(SendPath, {"--port", std::to_string(receiver.Port()), "--no-priority",
                                             "--source-file", source.toStdString(), "--rate", "1000", "--count", "6",
                                             "--stamp", "--run-id", "replay", "--json"});
    const Outcome received = receiver.Finish();
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(Figure(sent.json["streams"].toArray()[0].toObject(), "last_seq"), 4u);
    EXPECT_EQ(received.exitCode, 0) << received.err << received.out;
    EXPECT_EQ(Figure(received.json, "messages"), 6u);
    EXPECT_EQ(Figure(received.json, "received"), 4u);
    EXPECT_EQ(Figure(received.json, "lost"), 0u);
    std::istringstream lines(ReadFile(output));
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);)
        got.push_back(line);
    ASSERT_EQ(got.size(), 6u);
    const std::string prefixes[] = {
        "<13>first line quillon=replay:1:1:", "<13>hex", "<13>second line quillon=replay:1:2:",
        "<13>first line quillon=replay:1:3:", "<13>hex", "<13>second line quillon=replay:1:4:"};
    for (std::size_t i = 0; i < got.size(); ++i) {
        const bool hex = prefixes[i] == "<13>hex";
        EXPECT_EQ(hex ? got[i] : got[i].substr(0, prefixes[i].size()), prefixes[i]);
    }
}
} // namespace
