#include "report/ProbeReport.h"
#include "SampleProbeResult.h"
#include "report/ProbeResultJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {
QString Page(const ProbeResult &result)
{
    return QString::fromStdString(RenderProbeReport(result));
}

QString Verdict(const ProbeResult &result)
{
    return QRegularExpression(QStringLiteral("<p class=\"verdict\">(.*?)</p>")).match(Page(result)).captured(1);
}

QJsonObject Data(const QString &page)
{
    const QString open = QStringLiteral("<script type=\"application/json\" id=\"probe-data\">");
    const qsizetype from = page.indexOf(open) + open.size();
    return QJsonDocument::fromJson(page.mid(from, page.indexOf(QStringLiteral("</script>"), from) - from).toUtf8())
        .object();
}

// A process name, a target or a command is whatever the system or the user
// said: it shows as text, and the page's embedded data reads back as the
// result's JSON document.
TEST(ProbeReport, TextFromTheResultNeverBecomesMarkupAndTheDataReadsBack)
{
    const std::string hostile = "</script><script>alert(1)</script><!--<b>&amp;'\"";
    ProbeResult result = SampleProbeResult();
    result.settings.target = hostile;
    result.steps[0].processes[0].name = hostile;
    const QString page = Page(result);
    EXPECT_FALSE(page.contains(QStringLiteral("<script>alert")));
    EXPECT_FALSE(page.contains(QStringLiteral("<b>")));
    EXPECT_FALSE(page.contains(QStringLiteral("<!--")));
    // The error counter, the data, uPlot and the page's script: no more.
    EXPECT_EQ(page.count(QStringLiteral("<script")), 4);
    EXPECT_EQ(page.count(QStringLiteral("</script>")), 4);
    EXPECT_TRUE(Verdict(result).startsWith(QStringLiteral("&lt;/script&gt;&lt;script&gt;alert(1)")));
    EXPECT_EQ(Data(page).value("result").toObject(), ProbeResultJson(result));
}

// Each reason the search stopped reads as what it means for the collector,
// with the failed step nearest above the rate found.
TEST(ProbeReport, VerdictSaysWhatLimitedTheRate)
{
    const auto with = [](const std::string &by, double sustained, int failedStep, const std::string &verdict,
                         const std::string &reason = "") {
        ProbeResult result = SampleProbeResult();
        result.limitedBy = by;
        result.maxSustainableMps = sustained;
        result.steps[failedStep - 1].verdict = verdict;
        result.steps[failedStep - 1].reason = reason;
        return result;
    };
    const std::string who = "rsyslogd at 127.0.0.1:5514 over udp";
    const std::pair<ProbeResult, std::string> cases[] = {
        {with("loss", 6000, 6, "loss"), " sustained 6,000 MPS; above that it lost messages (0.18% lost at 7,000 MPS)."},
        {with("latency", 6000, 6, "latency"), " sustained 6,000 MPS; above that its p99 latency passed the 50 ms limit "
                                              "(35 ms at 7,000 MPS)."},
        {with("back-pressure", 6000, 6, "back-pressure", "back-pressure: 1.2 MB not taken"),
         " sustained 6,000 MPS; above that it could not keep up and held the sender back (1.2 MB not taken at 7,000 "
         "MPS)."},
        {with("latency-floor", 0, 1, "latency"),
         " sustained none of the rates tried: p99 is 1.2 ms at every rate tried, "
         "above --max-p99-ms (a latency floor no rate gets under)."},
        {with("max-rate", 8000, 4, "holds"), " sustained 8,000 MPS, the highest rate the probe was allowed to offer "
                                             "(--max-rate): its limit lies higher."},
        {with("loss", 0, 1, "loss"), " lost messages even at 1,000 MPS, the lowest rate tried."},
    };
    for (const auto &[result, verdict] : cases)
        EXPECT_EQ(Verdict(result).toStdString(), QString::fromStdString(who + verdict).toHtmlEscaped().toStdString());
}

// The steps say why each failed, the charts by rate get the steps in order
// of rate and what each delivered a second until its last message came,
// and the context, the soak and the detached daemon are shown.
TEST(ProbeReport, ShowsWhyWhereAndHowSure)
{
    ProbeResult result = SampleProbeResult();
    // Its messages arrived over 4 s more than it sent: the collector held the sender back.
    result.steps[3].endSeconds += 4;
    const QString page = Page(result);
    for (const char *text : {
             "<td class=\"text why\">loss 0.18%</td>",
             "<td class=\"text why\">noisy: the machine was 97% busy</td>",
             "<dt>CPU</dt><dd>2 × Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz</dd>",
             "<dt>Command line</dt><dd><code><span>quillon-probe</span> <span>--target</span>",
             "<p class=\"soak-verdict fails\"><strong>leaks</strong>: memory grew 180 MB/h",
             "left rsyslogd (4242) listening on UDP port 5514",
         })
        EXPECT_TRUE(page.contains(QString::fromUtf8(text))) << text;
    const QJsonObject byRate = Data(page).value("by_rate").toObject();
    EXPECT_EQ(byRate.value("offered").toArray(), (QJsonArray{1000, 2000, 4000, 6000, 6000, 7000, 7000, 8000}));
    EXPECT_EQ(byRate.value("p99_failed").toArray()[7], 180);
    EXPECT_EQ(byRate.value("delivered").toArray()[7], 27'500 / 8.0);
}

// Without watched processes, latency or a soak the page says what is
// missing and draws only the charts it has data for.
TEST(ProbeReport, MissingPartsAreSaidInsteadOfDrawn)
{
    ProbeResult result = SampleProbeResult();
    for (ProbeStep &step : result.steps) {
        step.latency.reset();
        step.processes.clear();
    }
    result.watchSamples.clear();
    result.soak.reset();
    const QString page = Page(result);
    EXPECT_EQ(page.count(QStringLiteral("data-chart=")), 2);
    EXPECT_TRUE(page.contains(QStringLiteral("No process was watched")));
    EXPECT_TRUE(page.contains(QStringLiteral("No latency was measured")));
}
} // namespace
