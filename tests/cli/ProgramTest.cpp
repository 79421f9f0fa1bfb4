#include "support/LoopbackReceivers.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

namespace {
struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

QStringList Arguments(const std::vector<std::string> &args)
{
    QStringList list;
    for (const std::string &arg : args)
        list << QString::fromStdString(arg);
    return list;
}

Outcome Finish(QProcess &program)
{
    EXPECT_TRUE(program.waitForFinished(30000));
    Outcome outcome;
    outcome.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    outcome.out = program.readAllStandardOutput().toStdString();
    outcome.err = program.readAllStandardError().toStdString();
    return outcome;
}

Outcome RunProgram(const std::vector<std::string> &args, const QByteArray &input = {})
{
    QProcess program;
    program.start(QStringLiteral(QUILLON_SEND_PATH), Arguments(args));
    EXPECT_TRUE(program.waitForStarted());
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
    const std::string udpPort = std::to_string(udp.Port());
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"--version"}, 0, "quillon-send 2.2.0\n", ""},
        {{"--help"}, 0, "Usage: quillon-send [options]", ""},
        {{"--port", udpPort, "--priority", "13", "--message", "ok"}, 0, "1 message sent, 0 failed in ", ""},
        {{"--port", "0"}, 2, "", "quillon-send: --port: '0' is not a port number from 1 to 65535\n"},
        {{"--level", "loud"}, 2, "", "quillon-send: --level: 'loud' is not"},
        {{"--every-second", "--once"}, 2, "", "quillon-send: --every-second and --once cannot be combined"},
        {{"--transport", "tcp", "--port", refusedPort, "--quiet"},
         1,
         "",
         "quillon-send: TCP Session failed to connect to 127.0.0.1:"},
        {{"--target", "nohost.invalid", "--json"}, 1, "{\"sent\":0,\"failed\":1,", "quillon-send: nothing could"},
    };
    for (const Case &c : cases) {
        const Outcome outcome = RunProgram(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.args.front() << outcome.err;
        EXPECT_EQ(outcome.out.rfind(c.out, 0), 0u) << outcome.out;
        EXPECT_EQ(outcome.err.rfind(c.err, 0), 0u) << outcome.err;
    }
    EXPECT_TRUE(udp.WaitForDatagrams(1));
    EXPECT_EQ(udp.Datagrams(), std::vector<std::string>{"<13>ok"});
}

TEST(Program, MultiLineTextFromStandardInputPassesByteForByte)
{
    UdpReceiver udp;
    const QByteArray text("first line\nsecond \xc3\xa9\xff line\n", 27);
    const Outcome outcome =
        RunProgram({"--port", std::to_string(udp.Port()), "--priority", "13", "--multiline-file", "-"}, text);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    ASSERT_TRUE(udp.WaitForDatagrams(1));
    EXPECT_EQ(udp.Datagrams().front(), "<13>" + text.toStdString());
}

TEST(Program, StopSignalsEndTheRunWithTheSummary)
{
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        UdpReceiver udp;
        QProcess program;
        program.start(QStringLiteral(QUILLON_SEND_PATH),
                      Arguments({"--port", std::to_string(udp.Port()), "--every-minute", "--json"}));
        ASSERT_TRUE(program.waitForStarted());
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
// same bytes in the same order.
TEST(Program, BatchedSendingCarriesTheSameBytesAsSmallBatches)
{
    const std::vector<std::string> common = {"--message", "Random string of text", "--corrupt", "--count", "600",
                                             "--quiet"};
    std::vector<std::vector<std::string>> received;
    for (const std::vector<std::string> &pace :
         {std::vector<std::string>{"--unlimited"}, std::vector<std::string>{"--rate", "3000"}}) {
        UdpReceiver udp;
        std::vector<std::string> args = common;
        args.insert(args.end(), pace.begin(), pace.end());
        args.insert(args.end(), {"--port", std::to_string(udp.Port())});
        const Outcome outcome = RunProgram(args);
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        ASSERT_TRUE(udp.WaitForDatagrams(600));
        received.push_back(udp.Datagrams());
    }
    EXPECT_EQ(received[0].size(), 600u);
    EXPECT_TRUE(received[0] == received[1]);
}
} // namespace
