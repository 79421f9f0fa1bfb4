#include "report/ProbeReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {
QJsonObject Result(const QString &limitedBy, double sustained, const QString &name, const QString &target)
{
    const QJsonObject latency{{"p50", 1.5}, {"p99", 80}, {"max", 95}};
    const QJsonArray processes{QJsonObject{{"pid", 7}, {"name", name}, {"cpu_percent", 50}, {"rss_bytes", 2e6}}};
    const QJsonArray steps{
        QJsonObject{{"rate", 1000},
                    {"sent", 1000},
                    {"received", 1000},
                    {"lost", 0},
                    {"held", true},
                    {"latency_ms", latency},
                    {"processes", processes}},
        QJsonObject{{"rate", 2000},
                    {"sent", 2000},
                    {"received", 1950},
                    {"lost", 50},
                    {"held", false},
                    {"latency_ms", latency},
                    {"processes", processes}},
    };
    return {
        {"max_sustainable_mps", sustained},
        {"limited_by", limitedBy},
        {"steps", steps},
        {"settings", QJsonObject{{"target", target}, {"port", 514}, {"transport", "udp"}, {"max_p99_ms", 40}}},
        {"watch_samples",
         QJsonArray{QJsonObject{{"seconds", 0}, {"pid", 7}, {"name", name}, {"cpu_percent", 50}, {"rss_bytes", 2e6}}}}};
}

QString Verdict(const std::string &page)
{
    const auto match =
        QRegularExpression(QStringLiteral("<p class=\"verdict\">(.*?)</p>")).match(QString::fromStdString(page));
    return match.hasMatch() ? match.captured(1) : QString();
}

// A process name or a target is whatever the system or the user said: it
// shows as text, and the page's embedded data reads back as the result.
TEST(ProbeReport, TextFromTheResultNeverBecomesMarkupAndTheDataReadsBack)
{
    const QString hostile = QStringLiteral("</script><script>alert(1)</script><!--<b>&amp;'\"");
    const QJsonObject result = Result("loss", 1000, hostile, hostile);
    const std::string page = RenderProbeReport(result);

    EXPECT_EQ(page.find("<script>alert"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<!--"), std::string::npos);
    // The error counter, the data, uPlot and the page's script: no more.
    EXPECT_EQ(QString::fromStdString(page).count(QStringLiteral("<script")), 4);
    EXPECT_EQ(QString::fromStdString(page).count(QStringLiteral("</script>")), 4);
    EXPECT_TRUE(Verdict(page).startsWith(QStringLiteral("&lt;/script&gt;&lt;script&gt;alert(1)")));

    const std::string open = "<script type=\"application/json\" id=\"probe-data\">";
    const std::size_t from = page.find(open) + open.size();
    ASSERT_NE(page.find(open), std::string::npos);
    const QByteArray json = QByteArray::fromStdString(page.substr(from, page.find("</script>", from) - from));
    QJsonParseError error;
    const QJsonDocument data = QJsonDocument::fromJson(json, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(data.object().value("result").toObject(), result);
}

// Each stop reason reads as what it means for the collector.
TEST(ProbeReport, VerdictSaysWhatLimitedTheRate)
{
    const std::pair<QJsonObject, QString> cases[] = {
        {Result("loss", 1000, "rsyslogd", "127.0.0.1"),
         "rsyslogd at 127.0.0.1:514 over udp sustained 1,000 MPS; above that it lost messages (2.5% lost at 2,000 "
         "MPS)."},
        {Result("latency", 1000, "rsyslogd", "::1"),
         "rsyslogd at [::1]:514 over udp sustained 1,000 MPS; above that its p99 latency passed the 40 ms limit "
         "(80 ms at 2,000 MPS)."},
        {Result("sender", 1000, "", "127.0.0.1"),
         "The collector at 127.0.0.1:514 over udp sustained 1,000 MPS, as fast as the sender could send: the "
         "collector was not the limit."},
        {Result("max-rate", 1000, "rsyslogd", ""),
         "rsyslogd sustained 1,000 MPS, the highest rate the probe was allowed to offer (--max-rate): its limit lies "
         "higher."},
        {Result("loss", 0, "rsyslogd", "127.0.0.1"),
         "rsyslogd at 127.0.0.1:514 over udp lost messages even at 1,000 MPS, the lowest rate tried."},
    };
    for (const auto &[result, verdict] : cases)
        EXPECT_EQ(Verdict(RenderProbeReport(result)).toStdString(), verdict.toHtmlEscaped().toStdString());
}

// Without watched processes or latency the page says what is missing and
// draws only the charts it has data for.
TEST(ProbeReport, MissingPartsAreSaidInsteadOfDrawn)
{
    QJsonObject result = Result("loss", 1000, "", "127.0.0.1");
    QJsonArray steps = result.value("steps").toArray();
    for (auto step : steps) {
        QJsonObject plain = step.toObject();
        plain.remove("latency_ms");
        plain.remove("processes");
        step = plain;
    }
    result.insert("steps", steps);
    result.remove("watch_samples");
    const QString page = QString::fromStdString(RenderProbeReport(result));
    EXPECT_EQ(page.count(QStringLiteral("data-chart=")), 2);
    EXPECT_TRUE(page.contains(QStringLiteral("No process was watched")));
    EXPECT_TRUE(page.contains(QStringLiteral("No latency was measured")));
}
} // namespace
