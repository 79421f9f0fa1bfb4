#include "cli/common/CliProcess.h"

#include <QJsonArray>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace {
const QString ProbePath = QStringLiteral(QUILLON_PROBE_PATH);
using Args = std::vector<std::string>;

// A port nothing listens on now, for the probe's own receiver.
std::string FreePort()
{
    QTcpServer server;
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    return std::to_string(server.serverPort());
}

// The probe sending straight to its own receiver: a collector that loses
// nothing, so the search climbs to --max-rate.
Args SelfProbe(const std::string &port)
{
    return {"--target",     "127.0.0.1", "--port",     port,  "--transport",    "tcp", "--receive",       "tcp:" + port,
            "--start-rate", "200",       "--max-rate", "800", "--step-seconds", "0.5", "--drain-seconds", "0.3"};
}

TEST(ProbeProgram, BadFlagsAreUsageErrorsNamingTheFlag)
{
    const std::pair<Args, std::string> cases[] = {
        {{"--target", "127.0.0.1"}, "--receive is needed"},
        {{"--receive", "tcp:0"}, "--receive: 'tcp:0' is not"},
        {{"--receive", "smtp:25"}, "--receive: 'smtp:25' is not"},
        {{"--receive", "file:"}, "needs a path"},
        {{"--receive", "tcp:5514", "--rate", "10"}, "--rate: the probe sets the sender's pace"},
        {{"--receive", "tcp:5514", "--transport", "carrier-pigeon"}, "--transport: 'carrier-pigeon' is not"},
        {{"--receive", "tcp:5514", "--max-loss", "1.5"}, "--max-loss: '1.5' is not"},
        {{"--receive", "tcp:5514", "--precision", "0"}, "--precision: '0' is not"},
        {{"--receive", "tcp:5514", "--confirm", "-1"}, "--confirm: '-1' is not"},
        {{"--receive", "tcp:5514", "--start-rate", "100", "--max-rate", "50"}, "--max-rate must be at least"},
        {{"--receive", "tcp:5514", "--receive-cert", "c.pem"}, "--receive-cert needs --receive tls:PORT"},
        {{"--receive", "tls:5514"}, "--receive tls:PORT needs --receive-cert FILE"},
        {{"--receive", "tls:5514", "--receive-cert", "c.pem", "--receive-require-client-cert"},
         "--receive-require-client-cert needs --receive-ca-file FILE"},
        {{"--receive", "tls:5514", "--receive-handshake-timeout", "0"}, "--receive-handshake-timeout: '0' is not"},
        {{"--receive", "tcp:5514", "--watch-pid", "x"}, "--watch-pid: 'x' is not"},
        {{"--receive", "tcp:5514", "--watch-pid", "1073741823"}, "--watch-pid 1073741823: no such process"},
        {{"--receive", "file:/nonexistent-folder/x.log"}, "--receive file:/nonexistent-folder/x.log: cannot watch"},
        {{"--receive", "tcp:no..host:5514"}, "is not tcp:ADDR:PORT with an IPv4 or IPv6 address"},
        {{"--receive", "tcp:5514", "--soak-rate", "100"}, "--soak-rate needs --soak DURATION"},
        {{"--receive", "tcp:5514", "--soak", "8d"}, "--soak: '8d' is not a duration"},
    };
    for (const auto &[args, message] : cases) {
        const Outcome outcome = RunToEnd(ProbePath, args);
        EXPECT_EQ(outcome.exitCode, 2) << message;
        EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.err;
    }
    const Outcome help = RunToEnd(ProbePath, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    // The sender's own rows, so its flags are the probe's.
    for (const char *flag : {"--format", "--framing", "--size", "--server-name", "--threads", "--receive-key"})
        EXPECT_NE(help.out.find(flag), std::string::npos) << flag;
}

// A whole probe: the JSON document, the exit statuses of --require-mps,
// and a --watch-command that ignores SIGTERM, watched and then killed.
TEST(ProbeProgram, FindsTheRateWatchesAndStopsItsCommand)
{
    QTemporaryDir dir;
    const std::string pidFile = dir.filePath(QStringLiteral("pid")).toStdString();
    const std::string report = dir.filePath(QStringLiteral("probe.html")).toStdString();
    Args args = SelfProbe(FreePort());
    args.insert(args.end(),
                {"--json", "--require-mps", "800", "--report", report, "--watch-command",
                 "sh -c 'echo $$ > " + pidFile + "; echo collector $((6*7)) ready; trap \"\" TERM; exec sleep 600'"});
    const Outcome outcome = RunToEnd(ProbePath, args);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    // What the collector prints is kept apart from the result.
    EXPECT_EQ(outcome.out.find("collector 42 ready"), std::string::npos);
    EXPECT_NE(outcome.err.find("collector 42 ready"), std::string::npos);
    const QJsonObject &json = outcome.json;
    EXPECT_EQ(json.value("limited_by").toString(), "max-rate");
    EXPECT_EQ(json.value("max_sustainable_mps").toDouble(), 800);
    // 200, 400, 800, and 800 again to confirm it; on a loaded machine a step
    // may fail and the search goes on, but its last step confirms 800.
    const QJsonArray steps = json.value("steps").toArray();
    ASSERT_GE(steps.size(), 4);
    EXPECT_EQ(steps[0].toObject().value("rate").toDouble(), 200);
    EXPECT_EQ(steps.last().toObject().value("rate").toDouble(), 800);
    EXPECT_GE(steps.last().toObject().value("attempt").toInt(), 2);
    EXPECT_TRUE(json.value("confirmed").toBool());
    for (int i = 0; i < steps.size(); ++i) {
        const QJsonObject step = steps[i].toObject();
        EXPECT_LT(step.value("start_seconds").toDouble(), step.value("end_seconds").toDouble());
        EXPECT_TRUE(step.value("processes").isArray());
        if (!step.value("held").toBool())
            continue;
        const double rate = step.value("rate").toDouble();
        EXPECT_EQ(step.value("lost").toInt(), 0);
        EXPECT_EQ(step.value("received").toInt(), step.value("sent").toInt());
        // What the probe itself asks of a step: 97% of it, less a tenth of a second to start.
        EXPECT_GE(step.value("sent").toInt(), rate * (0.97 * 0.5 - 0.1));
        EXPECT_TRUE(step.value("latency_ms").toObject().contains("p99"));
    }
    const QJsonArray samples = json.value("watch_samples").toArray();
    ASSERT_FALSE(samples.isEmpty());
    EXPECT_EQ(samples[0].toObject().value("name").toString(), "sleep");
    EXPECT_GT(samples[0].toObject().value("rss_bytes").toInteger(), 0);
    EXPECT_EQ(json.value("settings").toObject().value("max_rate").toDouble(), 800);
    // Where and when it ran, and the whole command line as a shell takes it back.
    const QJsonObject context = json.value("context").toObject();
    EXPECT_TRUE(context.value("command_line").toString().contains("--require-mps 800 --report /"));
    EXPECT_TRUE(context.value("command_line").toString().contains("--watch-command 'sh -c '\\''echo $$ > /"));
    EXPECT_GT(context.value("cpu_count").toInt(), 0);
    EXPECT_EQ(context.value("load_average").toArray().size(), 3);
    for (const char *key : {"date", "host", "kernel", "version"})
        EXPECT_FALSE(context.value(key).toString().isEmpty()) << key;

    // It ignored SIGTERM, so it was killed, and it is gone.
    EXPECT_NE(outcome.err.find("killed after 5 s"), std::string::npos) << outcome.err;
    const pid_t pid = std::stoi(FileText(QString::fromStdString(pidFile)));
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_NE(FileText(QString::fromStdString(report)).find("<section id=\"context\">"), std::string::npos);

    // A rate the collector did not reach fails the gate.
    Args gated = SelfProbe(FreePort());
    gated.insert(gated.end(), {"--max-rate", "200", "--require-mps", "300"});
    const Outcome unmet = RunToEnd(ProbePath, gated);
    EXPECT_EQ(unmet.exitCode, 1) << unmet.err;
    EXPECT_NE(unmet.err.find("--require-mps 300 not met"), std::string::npos) << unmet.err;
}

// --progress shows each second of a step as it goes; a hang-up ends the
// probe as SIGTERM does, with its report and why, and the step it cut short
// is not blamed on the sender or the collector.
TEST(ProbeProgram, ProgressShowsTheStepAndAHangUpEndsTheProbe)
{
    QProcess probe;
    probe.start(ProbePath, Arguments(SelfProbe(FreePort())) << "--step-seconds"
                                                            << "3"
                                                            << "--progress"
                                                            << "--json");
    probe.setReadChannel(QProcess::StandardError);
    for (QByteArray err; !err.contains("\nstep 1 (200 MPS): 1 s of 3 s: "); err += probe.readAllStandardError())
        ASSERT_TRUE(probe.waitForReadyRead(10000)) << err.toStdString();
    ::kill(static_cast<pid_t>(probe.processId()), SIGHUP);
    const Outcome outcome = Collect(probe);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
    EXPECT_EQ(outcome.json.value("error").toString(), "stopped by a signal") << outcome.out;
    const QJsonArray steps = outcome.json.value("steps").toArray();
    ASSERT_EQ(steps.size(), 1) << outcome.out;
    EXPECT_EQ(steps[0].toObject().value("verdict").toString(), "stopped");
    EXPECT_FALSE(steps[0].toObject().value("held").toBool());
    EXPECT_NE(outcome.err.find("... stopped by a signal ("), std::string::npos) << outcome.err;
}
} // namespace
