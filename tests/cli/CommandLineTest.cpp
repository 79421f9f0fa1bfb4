#include "cli/CommandLine.h"
#include "cli/PaceSchedule.h"
#include "cli/RunReport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {
ParseResult Parse(std::vector<std::string> args)
{
    return ParseCommandLine(args);
}

TEST(CommandLine, NamesNumbersAndRandomSelectListEntries)
{
    struct Case {
        std::vector<std::string> args;
        int facility;
        int level;
    };
    const Case cases[] = {
        {{"--facility", "kernel", "--level", "EMERGENCY"}, 0, 0},
        {{"--facility", "FTP Daemon", "--level", "information"}, 11, 6},
        {{"--facility=ftp-daemon", "--level=Debug"}, 11, 7},
        {{"--facility", "log_audit", "--level", "notice"}, 13, 5},
        {{"--facility", "Local7", "--level", "7"}, 23, 7},
        {{"--facility", "23", "--level", "0"}, 23, 0},
        {{"--facility", "random", "--level", "RANDOM"}, 24, 8},
        {{}, 24, 8},
    };
    for (const Case &c : cases) {
        const ParseResult result = Parse(c.args);
        ASSERT_EQ(result.action, ParseResult::Action::Run) << result.error;
        EXPECT_EQ(result.options.facilityIndex, c.facility) << c.args.size();
        EXPECT_EQ(result.options.levelIndex, c.level);
    }
}

TEST(CommandLine, BadValuesNameTheFlagAndTheValue)
{
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--port", "70000"}, "--port: '70000' is not a port number from 1 to 65535"},
        {{"--port", "51x"}, "--port: '51x' is not"},
        {{"--source-port", "-1"}, "--source-port: '-1' is not"},
        {{"--transport", "sctp"}, "--transport: 'sctp' is not udp or tcp"},
        {{"--facility", "24"}, "--facility: '24' is not"},
        {{"--level", "8"}, "--level: '8' is not"},
        {{"--priority", "256"}, "--priority: '256' is not a priority from 0 to 255"},
        {{"--priority", "12.5"}, "--priority: '12.5' is not"},
        {{"--continuous", "9"}, "--continuous: '9' is not a delay from 10 to 2000 ms"},
        {{"--burst", "200"}, "--burst: '200' is not 100 or 500"},
        {{"--rate", "0"}, "--rate: '0' is not"},
        {{"--rate", "inf"}, "--rate: 'inf' is not"},
        {{"--unlimited", "--count", "-5"}, "--count: '-5' is not a positive whole number"},
        {{"--unlimited", "--duration", "abc"}, "--duration: 'abc' is not"},
        {{"--source-address", "300.1.1.1"}, "--source-address: '300.1.1.1' is not"},
        {{"--target", "  "}, "--target: Please specify a valid target IP address or host name"},
        {{"--port"}, "--port needs a value"},
        {{"--crlf=yes"}, "--crlf takes no value"},
        {{"--colour"}, "unknown flag --colour"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"--rate", "10", "--unlimited"}, "--rate and --unlimited cannot be combined"},
        {{"--count", "5"}, "--count and --duration need a repeating send option"},
        {{"--priority", "13", "--level", "notice"}, "--priority cannot be combined with --facility or --level"},
        {{"--port", "514", "--source-port", "514"},
         "--source-port: Sorry, Source and Destination ports must not be set to the same value"},
        {{"--message", "From a Ethereal capture file"},
         "--message \"From a Ethereal capture file\" needs --source-file FILE"},
    };
    for (const Case &c : cases) {
        const ParseResult result = Parse(c.args);
        EXPECT_EQ(result.action, ParseResult::Action::UsageError) << c.message;
        EXPECT_EQ(result.error.rfind(c.message, 0), 0u) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos);
    }
}

TEST(CommandLine, FlagsLandInTheirOptions)
{
    struct Case {
        std::vector<std::string> args;
        std::function<bool(const Options &)> holds;
    };
    const Case cases[] = {
        {{"--target", " localhost ", "--port", "1468", "--transport", "TCP", "--source-port", "2000"},
         [](const Options &o) { return o.target == "localhost" && o.port == 1468 && o.tcp && o.sourcePort == 2000; }},
        {{"--rfc-header", "--no-priority", "--corrupt", "--oversize", "--crlf", "--quiet", "--json"},
         [](const Options &o) {
             return o.rfcHeader && o.noPriority && o.corrupt && o.oversize && o.crlf && o.quiet && o.json;
         }},
        {{"--source-address", "random class c addresses"},
         [](const Options &o) { return o.sourceAddress == "Random Class C addresses"; }},
        {{"--source-address", "10.0.0.?"}, [](const Options &o) { return o.sourceAddress == "10.0.0.?"; }},
        {{"--multiline-file", "-"},
         [](const Options &o) { return o.multiLineFile == "-" && o.message == "MultiLine text message"; }},
        {{"--multiline-file", "m.txt", "--message", "plain"}, [](const Options &o) { return o.message == "plain"; }},
        {{"--source-file", "f.txt"},
         [](const Options &o) { return o.sourceFile == "f.txt" && o.message == "From tab delimited text file"; }},
        {{"--source-file", "c.cap", "--message", "From a Ethereal capture file"},
         [](const Options &o) { return o.message == "From a Ethereal capture file"; }},
        {{"--continuous", "250", "--count", "4"},
         [](const Options &o) { return o.pace == Pace::Continuous && o.continuousMs == 250 && o.count == 4; }},
        {{"--burst", "500", "--duration", "1.5"},
         [](const Options &o) { return o.pace == Pace::Burst && o.burstSize == 500 && o.duration == 1.5; }},
    };
    for (const Case &c : cases) {
        const ParseResult result = Parse(c.args);
        ASSERT_EQ(result.action, ParseResult::Action::Run) << result.error;
        EXPECT_TRUE(c.holds(result.options)) << c.args.front();
    }
}

TEST(CommandLine, FlagsApplyOnTopOfTheBase)
{
    Options base;
    base.pace = Pace::Burst;
    base.message = "saved";
    base.port = 1468;
    const ParseResult result = ParseCommandLine({"--count", "3", "--port", "999"}, base);
    ASSERT_EQ(result.action, ParseResult::Action::Run) << result.error;
    EXPECT_EQ(result.options.pace, Pace::Burst);
    EXPECT_EQ(result.options.message, "saved");
    EXPECT_EQ(result.options.port, 999);
    EXPECT_TRUE(ParseCommandLine({"--from-settings"}).fromSettings);
    EXPECT_EQ(Parse({"--port", "x", "--help"}).action, ParseResult::Action::UsageError);
    EXPECT_EQ(Parse({"--help", "--port", "1"}).action, ParseResult::Action::Help);
    EXPECT_EQ(Parse({"--version"}).action, ParseResult::Action::Version);
}

TEST(PaceSchedule, DueMessagesFollowFixedDeadlines)
{
    struct Case {
        std::vector<std::string> args;
        double seconds;
        std::int64_t due;
    };
    const Case cases[] = {
        {{"--once"}, 0, 1},
        {{"--once"}, 100, 1},
        {{"--every-second"}, 0, 1},
        {{"--every-second"}, 0.999, 1},
        {{"--every-second"}, 1.0, 2},
        {{"--every-minute"}, 59.9, 1},
        {{"--continuous", "10"}, 0.095, 10},
        {{"--burst", "100"}, 0, 100},
        {{"--burst", "500"}, 10, 1000},
        {{"--burst", "100", "--count", "150"}, 10, 150},
        {{"--rate", "1000"}, 1.0, 1001},
        {{"--rate", "0.5"}, 3.9, 2},
        {{"--unlimited", "--count", "7"}, 0, 7},
    };
    for (const Case &c : cases) {
        const PaceSchedule schedule(Parse(c.args).options);
        EXPECT_EQ(schedule.DueBy(c.seconds), c.due) << c.args.front() << " at " << c.seconds;
    }
    const PaceSchedule bursts(Parse({"--burst", "100"}).options);
    EXPECT_EQ(bursts.DueAt(99), 0);
    EXPECT_EQ(bursts.DueAt(100), 10);
    EXPECT_TRUE(PaceSchedule(Parse({"--once"}).options).Finished(1));
}

TEST(RunReport, StatusTextsAndSummary)
{
    EXPECT_EQ(ProgressLine(1, 1), "1 message sent, 1 MPS");
    EXPECT_EQ(ProgressLine(0, 0), "0 messages sent, 0 MPS");
    RunSummary summary;
    summary.sent = 2000;
    summary.failed = 1;
    summary.bytes = 512000;
    summary.elapsedSeconds = 2;
    summary.stoppedBy = "count";
    summary.error = "a \"quoted\"\nline";
    EXPECT_EQ(SummaryLine(summary), "2000 messages sent, 1 failed in 2.000 s: 1000 MPS average, 512000 bytes");
    const std::string json = SummaryJson(summary, Options{});
    EXPECT_NE(json.find("\"sent\":2000,\"failed\":1,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"average_mps\":1000.0"), std::string::npos);
    EXPECT_NE(json.find("\"error\":\"a \\\"quoted\\\"\\u000aline\""), std::string::npos) << json;
}
} // namespace
