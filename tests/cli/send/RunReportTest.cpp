#include "cli/send/RunReport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <gtest/gtest.h>

#include <tuple>

using namespace std::string_literals;

namespace {
// An average over one message or a moment says nothing, so the line leaves
// it out and the JSON gives null.
TEST(RunReport, TheRateIsGivenOnlyOverMoreThanOneMessageAndASecond)
{
    const std::tuple<std::int64_t, std::int64_t, double, std::string, double> cases[] = {
        {1, 0, 0.0001, "1 message sent, 0 failed in 0.000 s, 40 bytes", -1},
        {500, 0, 0.5, "500 messages sent, 0 failed in 0.500 s, 40 bytes", -1},
        {1, 0, 60, "1 message sent, 0 failed in 60.000 s, 40 bytes", -1},
        {3000, 0, 2, "3000 messages sent, 0 failed in 2.000 s: 1500 MPS average, 40 bytes", 1500},
        {9, 9, 1, "9 messages sent, 0 failed, 9 refused in 1.000 s: 9 MPS average, 40 bytes", 9},
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

TEST(RunReport, TheJsonSummaryParsesWhateverBytesItsTextsHold)
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
