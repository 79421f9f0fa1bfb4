#include "cli/recv/RecvProcess.h"
#include "support/TestCertificates.h"

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

// quillon-send --stamp into quillon-recv over UDP, TCP and TLS (there with
// a client certificate the receiver requires, over IPv6): both end with 0,
// and the receiver names the sender's run and stream with every message.
TEST(StampedChain, WhatTheSenderStampsArrivesWhole)
{
    const TestCertificates &certs = MadeCertificates();
    const std::vector<std::string> tlsListen = {
        "--cert", certs.serverCert, "--key", certs.serverKey, "--ca-file", certs.caFile, "--require-client-cert"};
    const std::vector<std::string> tlsSend = {"--ca-file",      certs.caFile, "--cert",
                                              certs.clientCert, "--key",      certs.clientKey};
    struct Case {
        std::string transport;
        std::vector<std::string> sendFlags;
        std::vector<std::string> listenFlags;
        int count;
    };
    const Case cases[] = {
        {"udp", {"--rate", "10000", "--facility", "random"}, {}, 2000},
        {"tcp", {"--unlimited", "--message", "Random string of text"}, {}, 20000},
        {"udp", {"--rate", "10000", "--format", "rfc5424"}, {}, 2000},
        {"tcp", {"--unlimited", "--format", "rfc5424", "--sd", "[a@1 b=\"c\"]", "--framing", "octet-count"}, {}, 20000},
        {"tls", tlsSend, tlsListen, 20000},
    };
    for (const Case &c : cases) {
        const bool tls = c.transport == "tls";
        std::vector<std::string> listen = {"--listen", c.transport, "--bind",   tls ? "::1" : "127.0.0.1",
                                           "--port",   "0",         "--expect", std::to_string(c.count),
                                           "--idle",   "10",        "--json"};
        listen.insert(listen.end(), c.listenFlags.begin(), c.listenFlags.end());
        Receiver receiver(listen);
        std::vector<std::string> args = {"--target",    tls ? "::1" : "127.0.0.1",
                                         "--port",      std::to_string(receiver.Port()),
                                         "--transport", c.transport,
                                         "--count",     std::to_string(c.count),
                                         "--stamp",     "--json"};
        if (tls)
            args.insert(args.end(), {"--format", "rfc5424", "--unlimited"});
        args.insert(args.end(), c.sendFlags.begin(), c.sendFlags.end());
        const Outcome sent = RunToEnd(SendPath, args);
        const Outcome received = receiver.Finish();
        EXPECT_EQ(sent.exitCode, 0) << c.transport << sent.err;
        EXPECT_EQ(received.exitCode, 0) << c.transport << received.err << received.out;
        const std::string run = sent.json.value("run_id").toString().toStdString();
        EXPECT_EQ(run.size(), 12u) << sent.out;
        const QJsonObject sentStream = sent.json["streams"].toArray()[0].toObject();
        EXPECT_EQ(Figure(sentStream, "stream"), 1u);
        EXPECT_EQ(Figure(sentStream, "last_seq"), static_cast<std::uint64_t>(c.count));
        EXPECT_EQ(Figure(received.json, "received"), static_cast<std::uint64_t>(c.count)) << c.transport;
        EXPECT_EQ(Figure(received.json, "lost") + Figure(received.json, "duplicates"), 0u) << c.transport;
        EXPECT_EQ(Figure(received.json, "malformed_frames") + Figure(received.json, "malformed_stamps"), 0u);
        EXPECT_EQ(Figure(received.json, "tls_handshakes"), tls ? 1u : 0u);
        const QJsonArray streams = received.json["streams"].toArray();
        ASSERT_EQ(streams.size(), 1) << c.transport;
        EXPECT_EQ(streams[0].toObject().value("run").toString().toStdString(), run);
        EXPECT_EQ(Figure(streams[0].toObject(), "stream"), 1u);
        EXPECT_EQ(Figure(streams[0].toObject(), "highest_seq"), static_cast<std::uint64_t>(c.count));
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
