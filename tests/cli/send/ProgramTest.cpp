#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
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
    // Only --multiline-file - reads it, byte for byte.
    const std::string input("first line\nsecond \xc3\xa9\xff line\n", 27);
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"--version"}, 0, "quillon-send 2.2.0\n", ""},
        {{"--help"}, 0, "Usage: quillon-send [options]", ""},
        {{"--port", ok, "--priority", "13", "--message", "ok"}, 0, "1 message sent, 0 failed", ""},
        {{"--port", ok, "--priority", "13", "--multiline-file", "-"}, 0, "1 message sent, 0 failed", ""},
        {{"--port", "0"}, 2, "", "quillon-send: --port: '0' is not a port number from 1 to 65535\n"},
        {{"--source-file", "/nonexistent/m.txt"}, 2, "", "quillon-send: --source-file: cannot open '/nonex"},
        {{"--multiline-file", "/nonexistent/t.txt", "--json"}, 2, "{\"sent\":0,\"failed\":0,", "quillon-send: --multi"},
        {{"--transport", "tcp", "--port", refusedPort, "--quiet"}, 1, "", "quillon-send: TCP Session failed to"},
        {{"--transport", "tcp", "--target", "nohost.invalid"}, 1, "", "quillon-send: TCP Session failed to connect"},
        {{"--target", "nohost.invalid", "--json"}, 1, "{\"sent\":0,\"failed\":1,", "quillon-send: nothing could"},
    };
    for (const auto &[args, exitCode, out, err] : cases) {
        const Outcome outcome = RunProgram(args, QByteArray::fromStdString(input));
        EXPECT_EQ(outcome.exitCode, exitCode) << args.front() << outcome.err;
        EXPECT_EQ(outcome.out.rfind(out, 0), 0u) << outcome.out;
        EXPECT_EQ(outcome.err.rfind(err, 0), 0u) << outcome.err;
    }
    EXPECT_TRUE(udp.WaitForDatagrams(2));
    EXPECT_EQ(udp.Datagrams(), (std::vector<std::string>{"<13>ok", "<13>" + input}));
}

TEST(Program, StopSignalsEndTheRunWithTheSummary)
{
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        UdpReceiver udp;
        QProcess program;
        Start(program, {"--port", std::to_string(udp.Port()), "--every-minute", "--json"});
        ASSERT_TRUE(udp.WaitForDatagrams(1));
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        const Outcome outcome = Finish(program);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        EXPECT_EQ(outcome.out.rfind("{\"sent\":1,\"failed\":0,", 0), 0u) << outcome.out;
        EXPECT_NE(outcome.out.find("\"stopped_by\":\"signal\""), std::string::npos) << outcome.out;
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
            const std::size_t sent = std::stoul(outcome.out.substr(outcome.out.find("\"bytes\":") + 8));
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
