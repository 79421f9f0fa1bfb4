#include "report/SendReport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace std::string_literals;

namespace {
// An average over one message or a moment says nothing, so the line leaves
// it out and the JSON gives null.
TEST(SendReport, TheRateIsGivenOnlyOverMoreThanOneMessageAndASecond)
{
    const std::tuple<std::int64_t, std::int64_t, double, std::string, double> cases[] = {
        {1, 0, 0.0001, "1 message sent, 0 failed in 0.000 s, 40 bytes (framing included)", -1},
        {500, 0, 0.5, "500 messages sent, 0 failed in 0.500 s, 40 bytes (framing included)", -1},
        {1, 0, 60, "1 message sent, 0 failed in 60.000 s, 40 bytes (framing included)", -1},
        {3000, 0, 2, "3,000 messages sent, 0 failed in 2.000 s: 1,500 MPS average, 40 bytes (framing included)", 1500},
        {9, 9, 1, "9 messages sent, 0 failed, 9 refused in 1.000 s: 9 MPS average, 40 bytes (framing included)", 9},
    };
    for (const auto &[sent, refused, seconds, line, rate] : cases) {
        RunSummary summary;
        summary.sent = sent;
        summary.refused = refused;
        summary.elapsedSeconds = seconds;
        summary.bytes = 40;
        EXPECT_EQ(SummaryLine(summary), line);
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(SummaryJson(summary, {}))).object();
        const QJsonValue average = json.value(QStringLiteral("average_mps"));
        EXPECT_EQ(average.isNull() ? -1 : average.toDouble(), rate) << line;
        EXPECT_EQ(json.value(QStringLiteral("refused")).toInteger(), refused);
    }
}

TEST(RunReport, TheProgressLineSaysTimeFiguresAndTheRateAsked)
{
    SendCounters now;
    now.sent = 3000;
    now.failed = 2;
    const std::tuple<double, std::optional<double>, std::string> cases[] = {
        {10, 1000.4, "3 s of 10 s: 3,000 sent, 2 failed, 998 MPS of 1,000 MPS asked"},
        {0, std::nullopt, "3 s: 3,000 sent, 2 failed, 998 MPS"},
        {0, HUGE_VAL, "3 s: 3,000 sent, 2 failed, 998 MPS (as fast as it goes)"},
    };
    for (const auto &[duration, asked, line] : cases)
        EXPECT_EQ(SendProgressLine(3.02, duration, now, 998, asked), line);
}

// What was asked beside what was done, unstamped runs too: how far the rate
// fell behind its target, sessions that never came up, messages skipped or
// late, and those the receiver's system never acknowledged.
TEST(SendReport, TheSummarySaysWhatWasAskedBesideWhatHappened)
{
    const auto run = [](double achieved, std::int64_t up, double outage, std::int64_t unacknowledged) {
        RunSummary s;
        s.sent = 5400;
        s.elapsedSeconds = 3;
        s.bytes = 40;
        s.spread = {3, 3e6, achieved, 2838000, 0.946, 0};
        s.connections = {{0, 5000, unacknowledged, 2}, {1, 400, 0, 0}, {2, 0, 0, 0}};
        s.connectionsUp = up;
        s.reconnects = 2;
        s.longestOutage = outage;
        s.unknownFate = unacknowledged;
        s.skipped = 20;
        s.late = 10;
        return s;
    };
    const std::string start = "5,400 messages sent, 0 failed, 20 skipped (their time had passed), 10 late (sent over "
                              "0.1 s after their time) in 3.000 s: 1,800 MPS average, 40 bytes (framing included), ";
    const std::string spread = "; over 3 full seconds the rate varied by 2838000.0 MPS (standard deviation, 94.60% of "
                               "the target)";
    const std::string unacknowledged = " not acknowledged by the receiver's system (unknown fate)";
    const std::tuple<RunSummary, std::string, std::string, QJsonValue> cases[] = {
        {run(0.0018, 3, 0, 0),
         start + "3 connections, 2 reconnected" + spread +
             "; behind the target: 0% of "
             "3,000,000 MPS",
         "0" + unacknowledged, false},
        {run(0.989, 1, 1.5, 7),
         start + "1 of 3 connections came up, 2 reconnected, longest outage 1.500 s, 7" + unacknowledged + spread +
             "; behind the target: 98% of 3,000,000 MPS",
         "7" + unacknowledged, false},
        {run(0.99, 3, 0, 0), start + "3 connections, 2 reconnected" + spread, "0" + unacknowledged, true},
        {run(0.99, 0, 0.0002, 0), start + "0 of 3 connections came up, 2 reconnected, never connected" + spread,
         "0" + unacknowledged, true},
    };
    Options tcp;
    tcp.transport = TransportKind::Tcp;
    for (const auto &[summary, line, connectionLine, reached] : cases) {
        EXPECT_EQ(SummaryLine(summary), line);
        EXPECT_EQ(ConnectionLines(summary),
                  std::vector<std::string>{"connection 1: 5,000 messages sent, 2 reconnected, " + connectionLine});
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(SummaryJson(summary, tcp))).object();
        EXPECT_EQ(json.value(QStringLiteral("target_reached")), reached) << line;
        EXPECT_DOUBLE_EQ(json.value(QStringLiteral("achieved_ratio")).toDouble(), *summary.spread.achievedRatio);
        EXPECT_DOUBLE_EQ(json.value(QStringLiteral("longest_outage_seconds")).toDouble(), summary.longestOutage);
        EXPECT_EQ(json.value(QStringLiteral("connections_up")).toInteger(), summary.connectionsUp);
        EXPECT_EQ(json.value(QStringLiteral("late")).toInteger(), 10);
        EXPECT_EQ(json.value(QStringLiteral("skipped")).toInteger(), 20);
    }
}

// A RELP run the receiver answered none of says so before its figures; a
// replay counts the gaps it cut and the lines that went back in time.
TEST(SendReport, TheSummaryHeadsWithNoAcknowledgementAndCountsReplayCuts)
{
    const auto run = [](std::optional<std::int64_t> acknowledged, std::int64_t gapsCut, std::int64_t wentBack) {
        RunSummary s;
        s.sent = 128;
        s.elapsedSeconds = 0.5;
        s.bytes = 40;
        s.acknowledged = acknowledged;
        s.unknownFate = 128 - acknowledged.value_or(128);
        s.replayGapsCut = gapsCut;
        s.replayWentBack = wentBack;
        s.replayMaxGap = 0.25;
        return s;
    };
    const std::string sent = "128 messages sent, 0 failed";
    const std::string rest = " in 0.500 s, 40 bytes (framing included)";
    const std::tuple<RunSummary, std::string> cases[] = {
        {run(0, 0, 0), "no message was acknowledged: " + sent + rest +
                           ", 0 acknowledged, 128 not acknowledged by the receiver's system (unknown fate)"},
        {run(128, 0, 0), sent + rest + ", 128 acknowledged"},
        {run(std::nullopt, 2, 1),
         sent + ", 2 gaps cut to 0.25 s (--max-gap), 1 line went back in time (sent at once)" + rest},
        {run(std::nullopt, 1, 0), sent + ", 1 gap cut to 0.25 s (--max-gap)" + rest},
    };
    Options replay;
    replay.pace = Pace::Replay;
    replay.replayMaxGap = 0.25;
    for (const auto &[summary, line] : cases) {
        EXPECT_EQ(SummaryLine(summary), line);
        const QJsonObject json =
            QJsonDocument::fromJson(QByteArray::fromStdString(SummaryJson(summary, replay))).object();
        const QJsonObject replayed = json.value(QStringLiteral("replay")).toObject();
        EXPECT_EQ(replayed.value(QStringLiteral("gaps_cut")).toInteger(), summary.replayGapsCut);
        EXPECT_EQ(replayed.value(QStringLiteral("went_back")).toInteger(), summary.replayWentBack);
        EXPECT_EQ(replayed.value(QStringLiteral("max_gap_seconds")).toDouble(), 0.25);
    }
}

TEST(SendReport, TheJsonSummaryParsesWhateverBytesItsTextsHold)
{
    Options options;
    options.target = "host\xff\x01\"\\";
    RunSummary summary;
    summary.stoppedBy = "error";
    summary.error = "cannot read '\xfe\x80\x00\t\r\n'"s;
    summary.exitStatus = 2;
    const std::string line = SummaryJson(summary, options);
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_EQ(json.value(QStringLiteral("target")).toString(), QStringLiteral("host\\xff\x01\"\\"));
    EXPECT_EQ(json.value(QStringLiteral("error")).toString(),
              QStringLiteral("cannot read '\\xfe\\x80") + QChar(0) + QStringLiteral("\t\r\n'"));
    EXPECT_EQ(json.value(QStringLiteral("exit_status")).toInt(), 2);
}
} // namespace
