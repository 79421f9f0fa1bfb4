#include "report/ProbeReport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

// Outside any namespace, as Q_INIT_RESOURCE needs.
static void RegisterProbeReportResources()
{
    Q_INIT_RESOURCE(probe_report);
}

namespace {

QString Resource(const QString &name)
{
    static const bool registered = (RegisterProbeReportResources(), true);
    (void)registered;
    QFile file(QStringLiteral(":/probe/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("quillon-probe: the report resource %s is missing from the build", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

QString Html(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

std::optional<double> Number(const QJsonValue &value)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return std::nullopt;
    return value.toDouble();
}

QJsonValue NumberOrNull(std::optional<double> value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString Count(double value)
{
    return QLocale(QLocale::English).toString(static_cast<qlonglong>(std::llround(value)));
}

QString Decimal(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    const int decimals = std::fabs(value) >= 100 ? 0 : std::fabs(value) >= 10 ? 1 : std::fabs(value) >= 0.1 ? 2 : 3;
    QString text = QLocale(QLocale::English).toString(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

QString Optional(std::optional<double> value, const QString &unit = {})
{
    return value ? Decimal(*value) + unit : QStringLiteral("–");
}

// The figures of one step as the table and the charts show them.
struct Step {
    double rate = 0;
    double sent = 0;
    double received = 0;
    double lost = 0;
    double duplicates = 0;
    double reordered = 0;
    std::optional<double> p50, p99, max;
    bool held = false;
    std::optional<double> start, end;
    std::optional<double> lossPercent() const
    {
        return sent > 0 ? std::optional<double>(100.0 * lost / sent) : std::nullopt;
    }
    QJsonArray processes;
};

std::vector<Step> ReadSteps(const QJsonArray &steps)
{
    std::vector<Step> out;
    for (const QJsonValue &entry : steps) {
        const QJsonObject step = entry.toObject();
        const QJsonObject latency = step.value(QStringLiteral("latency_ms")).toObject();
        Step s;
        s.rate = step.value(QStringLiteral("rate")).toDouble();
        s.sent = step.value(QStringLiteral("sent")).toDouble();
        s.received = step.value(QStringLiteral("received")).toDouble();
        s.lost = step.value(QStringLiteral("lost")).toDouble();
        s.duplicates = step.value(QStringLiteral("duplicates")).toDouble();
        s.reordered = step.value(QStringLiteral("reordered")).toDouble();
        s.p50 = Number(latency.value(QStringLiteral("p50")));
        s.p99 = Number(latency.value(QStringLiteral("p99")));
        s.max = Number(latency.value(QStringLiteral("max")));
        s.held = step.value(QStringLiteral("held")).toBool();
        s.start = Number(step.value(QStringLiteral("start_seconds")));
        s.end = Number(step.value(QStringLiteral("end_seconds")));
        s.processes = step.value(QStringLiteral("processes")).toArray();
        out.push_back(s);
    }
    return out;
}

QString SettingText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble());
    if (value.isBool())
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    return {};
}

// "rsyslogd at 127.0.0.1:514 over udp": the first watched process names the
// collector, the settings say where it was reached.
QString Subject(const QJsonObject &result, const std::vector<Step> &steps)
{
    QString name;
    for (const Step &step : steps)
        for (const QJsonValue &process : step.processes)
            if (name.isEmpty())
                name = process.toObject().value(QStringLiteral("name")).toString();
    for (const QJsonValue &sample : result.value(QStringLiteral("watch_samples")).toArray())
        if (name.isEmpty())
            name = sample.toObject().value(QStringLiteral("name")).toString();
    if (name.isEmpty())
        name = QStringLiteral("the collector");

    const QJsonObject settings = result.value(QStringLiteral("settings")).toObject();
    QString target = settings.value(QStringLiteral("target")).toString();
    const QString port = SettingText(settings.value(QStringLiteral("port")));
    const QString transport = settings.value(QStringLiteral("transport")).toString();
    if (target.isEmpty())
        return name;
    if (!transport.startsWith(QStringLiteral("unix")) && !port.isEmpty())
        target = (target.contains(QLatin1Char(':')) ? QLatin1Char('[') + target + QLatin1Char(']') : target) +
                 QLatin1Char(':') + port;
    QString subject = name + QStringLiteral(" at ") + target;
    if (!transport.isEmpty())
        subject += QStringLiteral(" over ") + transport;
    return subject;
}

QString Sentence(QString text)
{
    if (text.startsWith(QStringLiteral("the ")))
        text[0] = QLatin1Char('T');
    return text;
}

QString Verdict(const QJsonObject &result, const std::vector<Step> &steps)
{
    const QString subject = Subject(result, steps);
    const QString limitedBy = result.value(QStringLiteral("limited_by")).toString();
    const double sustained = result.value(QStringLiteral("max_sustainable_mps")).toDouble();
    const auto maxP99 = Number(result.value(QStringLiteral("settings")).toObject().value(QStringLiteral("max_p99_ms")));
    const QString p99Limit =
        maxP99 ? QStringLiteral("the %1 ms limit").arg(Decimal(*maxP99)) : QStringLiteral("its limit");

    // The failed step nearest above the rate that held shows what "above" meant.
    const Step *failed = nullptr;
    for (const Step &step : steps)
        if (!step.held && step.rate > sustained && (!failed || step.rate < failed->rate))
            failed = &step;
    const QString at = failed ? QStringLiteral(" at %1 MPS").arg(Count(failed->rate)) : QString();

    if (sustained <= 0) {
        const auto slowest =
            std::min_element(steps.begin(), steps.end(), [](const Step &a, const Step &b) { return a.rate < b.rate; });
        const QString lowest = slowest == steps.end()
                                   ? QStringLiteral("the first step")
                                   : Count(slowest->rate) + QStringLiteral(" MPS, the lowest rate tried");
        if (limitedBy == QLatin1String("loss"))
            return Sentence(subject) + QStringLiteral(" lost messages even at ") + lowest + QLatin1Char('.');
        if (limitedBy == QLatin1String("latency"))
            return Sentence(subject) + QStringLiteral("'s p99 latency passed ") + p99Limit +
                   QStringLiteral(" even at ") + lowest + QLatin1Char('.');
        if (limitedBy == QLatin1String("sender"))
            return QStringLiteral("The sender could not reach the first step's rate, so ") + subject +
                   QStringLiteral(" was not measured.");
        return Sentence(subject) + QStringLiteral(" held no step.");
    }

    const QString held = Sentence(subject) + QStringLiteral(" sustained ") + Count(sustained) + QStringLiteral(" MPS");
    if (limitedBy == QLatin1String("loss")) {
        const auto percent = failed ? failed->lossPercent() : std::nullopt;
        return held + QStringLiteral("; above that it lost messages") +
               (percent ? QStringLiteral(" (%1% lost%2)").arg(Decimal(*percent), at) : QString()) + QLatin1Char('.');
    }
    if (limitedBy == QLatin1String("latency"))
        return held + QStringLiteral("; above that its p99 latency passed ") + p99Limit +
               (failed && failed->p99 ? QStringLiteral(" (%1 ms%2)").arg(Decimal(*failed->p99), at) : QString()) +
               QLatin1Char('.');
    if (limitedBy == QLatin1String("sender"))
        return held + QStringLiteral(", as fast as the sender could send: the collector was not the limit.");
    if (limitedBy == QLatin1String("max-rate"))
        return held + QStringLiteral(", the highest rate the probe was allowed to offer (--max-rate): its limit lies "
                                     "higher.");
    return held + QLatin1Char('.');
}

// The seconds a step's messages were sent over: the step length asked, else
// the step's own span.
std::optional<double> SendSeconds(const QJsonObject &settings, const Step &step)
{
    const auto asked = Number(settings.value(QStringLiteral("step_seconds")));
    if (asked && *asked > 0)
        return asked;
    if (step.start && step.end && *step.end > *step.start)
        return *step.end - *step.start;
    return std::nullopt;
}

QString ProcessCell(const QJsonArray &processes)
{
    QStringList parts;
    for (const QJsonValue &entry : processes) {
        const QJsonObject process = entry.toObject();
        const auto cpu = Number(process.value(QStringLiteral("cpu_percent")));
        const auto rss = Number(process.value(QStringLiteral("rss_bytes")));
        parts << Html(process.value(QStringLiteral("name")).toString()) + QStringLiteral(" ") + Optional(cpu, "%") +
                     QStringLiteral(" CPU, ") + Optional(rss ? std::optional<double>(*rss / 1e6) : std::nullopt, " MB");
    }
    return parts.join(QStringLiteral("<br>"));
}

QString StepsTable(const QJsonObject &settings, const std::vector<Step> &steps, bool watched)
{
    QString html = QStringLiteral(
        "<table class=\"steps\"><thead><tr><th>Step</th><th>Asked MPS</th><th>Delivered MPS</th><th>Sent</th>"
        "<th>Received</th><th>Lost</th><th>Loss</th><th>Dupl.</th><th>Reord.</th><th>p50 ms</th><th>p99 ms</th>"
        "<th>Max ms</th><th>Verdict</th>");
    if (watched)
        html += QStringLiteral("<th class=\"text\">Watched processes</th>");
    html += QStringLiteral("</tr></thead><tbody>");
    int number = 0;
    for (const Step &step : steps) {
        const auto seconds = SendSeconds(settings, step);
        html += QStringLiteral("<tr class=\"%1\"><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td><td>%7</td>"
                               "<td>%8</td><td>%9</td>")
                    .arg(step.held ? QStringLiteral("held") : QStringLiteral("failed"), QString::number(++number),
                         Count(step.rate), seconds ? Count(step.received / *seconds) : QStringLiteral("–"),
                         Count(step.sent), Count(step.received), Count(step.lost), Optional(step.lossPercent(), "%"),
                         Count(step.duplicates));
        html += QStringLiteral("<td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>")
                    .arg(Count(step.reordered), Optional(step.p50), Optional(step.p99), Optional(step.max),
                         step.held ? QStringLiteral("holds") : QStringLiteral("fails"));
        if (watched)
            html += QStringLiteral("<td class=\"text\">") + ProcessCell(step.processes) + QStringLiteral("</td>");
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</tbody></table>");
}

QString SettingsTable(const QJsonObject &settings)
{
    QString html = QStringLiteral("<table class=\"settings\"><tbody>");
    for (auto it = settings.begin(); it != settings.end(); ++it) {
        // A setting left out reads as such rather than as an empty cell.
        const QString text = it.value().isNull() ? QStringLiteral("not set") : SettingText(it.value());
        html += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>").arg(Html(it.key()), Html(text));
    }
    return html + QStringLiteral("</tbody></table>");
}

// The per-step series the charts draw, worked out here so the page's script
// only draws.
QJsonObject StepSeries(const QJsonObject &settings, const std::vector<Step> &steps)
{
    QJsonArray number, asked, sent, delivered, lossHeld, lossFailed, p50, p99, max;
    for (const Step &step : steps) {
        const auto seconds = SendSeconds(settings, step);
        number.append(static_cast<int>(number.size()) + 1);
        asked.append(step.rate);
        sent.append(NumberOrNull(seconds ? std::optional<double>(step.sent / *seconds) : std::nullopt));
        delivered.append(NumberOrNull(seconds ? std::optional<double>(step.received / *seconds) : std::nullopt));
        lossHeld.append(NumberOrNull(step.held ? step.lossPercent() : std::nullopt));
        lossFailed.append(NumberOrNull(step.held ? std::nullopt : step.lossPercent()));
        p50.append(NumberOrNull(step.p50));
        p99.append(NumberOrNull(step.p99));
        max.append(NumberOrNull(step.max));
    }
    return {{QStringLiteral("step"), number},
            {QStringLiteral("asked"), asked},
            {QStringLiteral("sent"), sent},
            {QStringLiteral("delivered"), delivered},
            {QStringLiteral("loss_held"), lossHeld},
            {QStringLiteral("loss_failed"), lossFailed},
            {QStringLiteral("p50"), p50},
            {QStringLiteral("p99"), p99},
            {QStringLiteral("max"), max},
            {QStringLiteral("max_p99_ms"), settings.value("max_p99_ms")},
            {QStringLiteral("max_loss"), settings.value("max_loss")}};
}

// Each watched process's samples on one shared time axis, a gap (null)
// where a process has no sample for a second.
QJsonObject Timeline(const QJsonArray &samples)
{
    std::map<double, std::map<qint64, QJsonObject>> bySecond;
    std::vector<std::pair<qint64, QString>> processes;
    for (const QJsonValue &entry : samples) {
        const QJsonObject sample = entry.toObject();
        const auto seconds = Number(sample.value(QStringLiteral("seconds")));
        if (!seconds)
            continue;
        const qint64 pid = sample.value(QStringLiteral("pid")).toInteger();
        bySecond[*seconds][pid] = sample;
        if (std::none_of(processes.begin(), processes.end(), [pid](const auto &p) { return p.first == pid; }))
            processes.emplace_back(pid, sample.value(QStringLiteral("name")).toString());
    }
    QJsonArray seconds, series;
    for (const auto &entry : bySecond)
        seconds.append(entry.first);
    for (const auto &[pid, name] : processes) {
        QJsonArray cpu, rss;
        for (const auto &[second, byPid] : bySecond) {
            const auto found = byPid.find(pid);
            const QJsonObject sample = found == byPid.end() ? QJsonObject() : found->second;
            cpu.append(NumberOrNull(Number(sample.value(QStringLiteral("cpu_percent")))));
            const auto bytes = Number(sample.value(QStringLiteral("rss_bytes")));
            rss.append(NumberOrNull(bytes ? std::optional<double>(*bytes / 1e6) : std::nullopt));
        }
        series.append(QJsonObject{{QStringLiteral("label"), QStringLiteral("%1 (%2)").arg(name, QString::number(pid))},
                                  {QStringLiteral("cpu"), cpu},
                                  {QStringLiteral("rss_mb"), rss}});
    }
    return {{QStringLiteral("seconds"), seconds}, {QStringLiteral("processes"), series}};
}

QJsonArray StepBands(const std::vector<Step> &steps)
{
    QJsonArray bands;
    int number = 0;
    for (const Step &step : steps) {
        ++number;
        if (step.start && step.end)
            bands.append(QJsonObject{{QStringLiteral("step"), number},
                                     {QStringLiteral("start"), *step.start},
                                     {QStringLiteral("end"), *step.end},
                                     {QStringLiteral("held"), step.held}});
    }
    return bands;
}

// JSON inside a script element: '<', '>' and '&' occur only inside JSON
// strings, where their \u escapes mean the same, so no "</script>" or "<!--"
// in a process name can end the element.
QString ScriptJson(const QJsonObject &object)
{
    QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    json.replace('<', "\\u003c").replace('>', "\\u003e").replace('&', "\\u0026");
    return QString::fromUtf8(json);
}

QString Chart(const QString &id, const QString &title, const QString &note)
{
    return QStringLiteral("<figure><figcaption>%1<span class=\"note\">%2</span></figcaption>"
                          "<div class=\"chart\" data-chart=\"%3\"></div></figure>")
        .arg(title, note, id);
}

} // namespace

std::string RenderProbeReport(const QJsonObject &result)
{
    const QJsonObject settings = result.value(QStringLiteral("settings")).toObject();
    const std::vector<Step> steps = ReadSteps(result.value(QStringLiteral("steps")).toArray());
    const QJsonObject timeline = Timeline(result.value(QStringLiteral("watch_samples")).toArray());
    const bool watched = !timeline.value(QStringLiteral("processes")).toArray().isEmpty();
    const bool anyStepProcess =
        std::any_of(steps.begin(), steps.end(), [](const Step &s) { return !s.processes.isEmpty(); });
    const bool latency = std::any_of(steps.begin(), steps.end(), [](const Step &s) { return s.p50 || s.p99; });

    QString charts;
    if (!steps.empty()) {
        charts += Chart(QStringLiteral("rate"), QStringLiteral("Offered and delivered rate per step"),
                        QStringLiteral("messages per second"));
        charts += Chart(QStringLiteral("loss"), QStringLiteral("Loss per step"), QStringLiteral("% of sent"));
        if (latency)
            charts += Chart(QStringLiteral("latency"), QStringLiteral("Latency per step"), QStringLiteral("ms"));
        else
            charts += QStringLiteral("<p class=\"missing\">No latency was measured, so there is no latency chart.</p>");
    }
    QString processes;
    if (watched) {
        processes += Chart(QStringLiteral("cpu"), QStringLiteral("CPU over time"),
                           QStringLiteral("% of one core; shaded: steps, red: failed"));
        processes += Chart(QStringLiteral("memory"), QStringLiteral("Resident memory over time"),
                           QStringLiteral("MB; shaded: steps, red: failed"));
    } else {
        processes = QStringLiteral("<p class=\"missing\">No process was watched (--watch-pid or --watch-command), so "
                                   "there are no CPU and memory charts.</p>");
    }

    const QJsonObject data{{QStringLiteral("result"), result},
                           {QStringLiteral("steps"), StepSeries(settings, steps)},
                           {QStringLiteral("timeline"), timeline},
                           {QStringLiteral("bands"), StepBands(steps)}};
    const QString verdict = Html(Verdict(result, steps));

    QString page;
    page += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    page += QStringLiteral("<title>quillon-probe: %1</title>").arg(Html(Subject(result, steps)));
    // Counted before anything else runs, so a failing script shows in the page.
    page += QStringLiteral("<script>addEventListener('error',function(){var d=document.documentElement.dataset;"
                           "d.pageErrors=(+d.pageErrors||0)+1;});</script>");
    page += QStringLiteral("<style>") + Resource(QStringLiteral("uPlot.min.css")) + QStringLiteral("</style>\n");
    page += QStringLiteral("<style>") + Resource(QStringLiteral("report.css")) + QStringLiteral("</style>\n");
    page += QStringLiteral("</head><body><main><h1>How much the collector takes</h1>");
    page += QStringLiteral("<p class=\"verdict\">") + verdict + QStringLiteral("</p>");
    page += QStringLiteral("<h2>Steps</h2>");
    page += steps.empty() ? QStringLiteral("<p class=\"missing\">The probe ran no step.</p>")
                          : QStringLiteral("<div class=\"table-wrap\">") + StepsTable(settings, steps, anyStepProcess) +
                                QStringLiteral("</div>");
    page += charts;
    page += QStringLiteral("<h2>Watched processes</h2>") + processes;
    page += QStringLiteral("<h2>Settings</h2>") + SettingsTable(settings);
    page += QStringLiteral("</main>\n<script type=\"application/json\" id=\"probe-data\">") + ScriptJson(data) +
            QStringLiteral("</script>\n");
    page += QStringLiteral("<script>") + Resource(QStringLiteral("uPlot.iife.min.js")) + QStringLiteral("</script>\n");
    page += QStringLiteral("<script>") + Resource(QStringLiteral("report.js")) + QStringLiteral("</script>\n");
    page += QStringLiteral("</body></html>\n");
    return page.toStdString();
}
