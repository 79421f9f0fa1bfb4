#include "report/ProbeReport.h"

#include "probe/StepNoise.h"
#include "report/ProbeResultJson.h"
#include "report/ProbeText.h"

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

QString Utf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Html(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

QString Html(const std::string &text)
{
    return Html(Utf8(text));
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
    const double size = std::fabs(value);
    const int decimals = size >= 100 ? 0 : size >= 10 ? 1 : size >= 0.1 ? 2 : 3;
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

std::optional<double> LossPercent(const ProbeStep &step)
{
    return step.sent > 0
               ? std::optional<double>(100.0 * static_cast<double>(step.lost) / static_cast<double>(step.sent))
               : std::nullopt;
}

// The seconds a step's messages were sent over: the step length asked, else
// the step's own span.
std::optional<double> SendSeconds(const ProbeSettings &settings, const ProbeStep &step)
{
    if (settings.stepSeconds > 0)
        return settings.stepSeconds;
    if (step.endSeconds > step.startSeconds)
        return step.endSeconds - step.startSeconds;
    return std::nullopt;
}

std::optional<double> PerSecond(const ProbeSettings &settings, const ProbeStep &step, std::int64_t count)
{
    const auto seconds = SendSeconds(settings, step);
    return seconds ? std::optional<double>(static_cast<double>(count) / *seconds) : std::nullopt;
}

// What arrived a second from the step's start to its last arrival: a
// collector that held the sender back delivers the step's messages over
// longer than it sent, and its rate is what shows the limit. The drain ends
// --drain-seconds after the last arrival.
std::optional<double> Delivered(const ProbeSettings &settings, const ProbeStep &step)
{
    const auto sending = SendSeconds(settings, step);
    if (!sending)
        return std::nullopt;
    const double arriving = step.endSeconds - settings.drainSeconds - step.startSeconds;
    return static_cast<double>(step.received) / std::max(*sending, arriving);
}

// "rsyslogd at 127.0.0.1:514 over udp": the first watched process names the
// collector, the settings say where it was reached.
QString Subject(const ProbeResult &result)
{
    QString name;
    for (const ProbeStep &step : result.steps)
        for (const ProcessFigures &process : step.processes)
            if (name.isEmpty())
                name = Utf8(process.name);
    for (const WatchSample &sample : result.watchSamples)
        if (name.isEmpty())
            name = Utf8(sample.name);
    if (name.isEmpty())
        name = QStringLiteral("the collector");

    const ProbeSettings &s = result.settings;
    QString target = Utf8(s.target);
    const QString transport = Utf8(s.transport);
    if (target.isEmpty())
        return name;
    if (!transport.startsWith(QStringLiteral("unix")) && s.port > 0)
        target = (target.contains(QLatin1Char(':')) ? QLatin1Char('[') + target + QLatin1Char(']') : target) +
                 QLatin1Char(':') + QString::number(s.port);
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

// The failed step nearest above the rate found, one that failed for the
// reason the search gave if there is one: it shows what "above" meant.
const ProbeStep *FailedAbove(const ProbeResult &result)
{
    const ProbeStep *nearest = nullptr;
    for (const bool sameReason : {true, false}) {
        for (const ProbeStep &step : result.steps)
            if (!step.held && step.verdict != "stopped" && step.rate > result.maxSustainableMps &&
                (!sameReason || step.verdict == result.limitedBy) && (!nearest || step.rate < nearest->rate))
                nearest = &step;
        if (nearest)
            return nearest;
    }
    return nullptr;
}

// "back-pressure: 1.2 MB not taken, noisy" without the verdict's name in
// front or the noise behind.
QString Cause(const ProbeStep &step)
{
    QString reason = Utf8(step.reason);
    const QString named = Utf8(step.verdict) + QStringLiteral(": ");
    if (reason.startsWith(named))
        reason = reason.mid(named.size());
    if (reason.endsWith(QStringLiteral(", noisy")))
        reason.chop(7);
    return reason;
}

QString SoakSentence(const SoakResult &soak)
{
    return QStringLiteral("at %1 MPS for %2 s: %3 (%4).")
        .arg(Count(soak.rate), Count(soak.durationSeconds), Utf8(soak.verdict), Utf8(soak.reason));
}

QString Verdict(const ProbeResult &result)
{
    const QString subject = Subject(result);
    const QString by = Utf8(result.limitedBy);
    const double sustained = result.maxSustainableMps;
    if (result.steps.empty())
        return result.soak ? QStringLiteral("A soak of ") + subject + QLatin1Char(' ') + SoakSentence(*result.soak)
                           : QStringLiteral("The probe ran no step.");
    const QString p99Limit = result.settings.maxP99Ms
                                 ? QStringLiteral("the %1 ms limit").arg(Decimal(*result.settings.maxP99Ms))
                                 : QStringLiteral("its limit");
    const ProbeStep *failed = FailedAbove(result);
    const QString at = failed ? QStringLiteral(" at %1 MPS").arg(Count(failed->rate)) : QString();

    if (sustained <= 0) {
        const auto slowest = std::min_element(result.steps.begin(), result.steps.end(),
                                              [](const ProbeStep &a, const ProbeStep &b) { return a.rate < b.rate; });
        const QString lowest = Count(slowest->rate) + QStringLiteral(" MPS, the lowest rate tried");
        if (by == QLatin1String("loss"))
            return Sentence(subject) + QStringLiteral(" lost messages even at ") + lowest + QLatin1Char('.');
        if (by == QLatin1String("duplicates"))
            return Sentence(subject) + QStringLiteral(" delivered messages more than once even at ") + lowest +
                   QLatin1Char('.');
        if (by == QLatin1String("latency"))
            return Sentence(subject) + QStringLiteral("'s p99 latency passed ") + p99Limit +
                   QStringLiteral(" even at ") + lowest + QLatin1Char('.');
        if (by == QLatin1String("back-pressure"))
            return Sentence(subject) + QStringLiteral(" held the sender back even at ") + lowest + QLatin1Char('.');
        if (by == QLatin1String("latency-floor"))
            return Sentence(subject) + QStringLiteral(" sustained none of the rates tried: ") +
                   Utf8(LatencyFloorText(result)) + QLatin1Char('.');
        if (by == QLatin1String("refused"))
            return QStringLiteral("Nothing reached ") + subject + QStringLiteral(": the target refused what was sent.");
        if (by == QLatin1String("sender"))
            return QStringLiteral("The sender could not reach the first step's rate, so ") + subject +
                   QStringLiteral(" was not measured.");
        return Sentence(subject) + QStringLiteral(" held no step.");
    }

    const QString held = Sentence(subject) + QStringLiteral(" sustained ") + Count(sustained) + QStringLiteral(" MPS");
    if (by == QLatin1String("loss")) {
        const auto percent = failed ? LossPercent(*failed) : std::nullopt;
        return held + QStringLiteral("; above that it lost messages") +
               (percent ? QStringLiteral(" (%1% lost%2)").arg(Decimal(*percent), at) : QString()) + QLatin1Char('.');
    }
    if (by == QLatin1String("duplicates"))
        return held + QStringLiteral("; above that it delivered messages more than once") +
               (failed ? QStringLiteral(" (%1%2)").arg(Cause(*failed), at) : QString()) + QLatin1Char('.');
    if (by == QLatin1String("latency"))
        return held + QStringLiteral("; above that its p99 latency passed ") + p99Limit +
               (failed && failed->latency ? QStringLiteral(" (%1 ms%2)").arg(Decimal(failed->latency->p99), at)
                                          : QString()) +
               QLatin1Char('.');
    if (by == QLatin1String("back-pressure"))
        return held + QStringLiteral("; above that it could not keep up and held the sender back") +
               (failed ? QStringLiteral(" (%1%2)").arg(Cause(*failed), at) : QString()) + QLatin1Char('.');
    if (by == QLatin1String("latency-floor"))
        return held + QStringLiteral("; above that ") + Utf8(LatencyFloorText(result)) + QLatin1Char('.');
    if (by == QLatin1String("refused"))
        return held + QStringLiteral("; above that the target refused what was sent") + QLatin1Char('.');
    if (by == QLatin1String("sender"))
        return held + QStringLiteral(", as fast as the sender could send: the collector was not the limit.");
    if (by == QLatin1String("max-rate"))
        return held + QStringLiteral(", the highest rate the probe was allowed to offer (--max-rate): its limit lies "
                                     "higher.");
    if (by.isEmpty())
        return held + QStringLiteral(" before the probe ended, with no limit found.");
    return held + QLatin1Char('.');
}

// Label and value pairs as a grid; pairs with no value are left out.
QString Facts(const QString &cssClass, const std::vector<std::pair<QString, QString>> &facts)
{
    QString html = QStringLiteral("<dl class=\"facts %1\">").arg(cssClass);
    for (const auto &[label, value] : facts)
        if (!value.isEmpty())
            html += QStringLiteral("<div><dt>%1</dt><dd>%2</dd></div>").arg(label, value);
    return html + QStringLiteral("</dl>");
}

// A command line that breaks only between its words, where it must break.
QString Words(const std::string &line)
{
    if (line.empty())
        return {};
    return QStringLiteral("<code><span>") + Html(line).replace(QLatin1Char(' '), QStringLiteral("</span> <span>")) +
           QStringLiteral("</span></code>");
}

QString ContextBlock(const ProbeResult &result)
{
    const ProbeContext &c = result.context;
    QString system = Html(c.system);
    if (!c.kernel.empty())
        system += (system.isEmpty() ? QString() : QStringLiteral(", ")) + Html(c.kernel);
    QString cpu = Html(c.cpuModel);
    if (c.cpuCount > 0)
        cpu =
            QString::number(c.cpuCount) + (cpu.isEmpty() ? QStringLiteral(" processors") : QStringLiteral(" × ") + cpu);
    QString load;
    if (c.loadAverage.size() == 3)
        load = QStringLiteral("%1, %2, %3 <span class=\"unit\">(1, 5 and 15 minutes)</span>")
                   .arg(QString::number(c.loadAverage[0], 'f', 2), QString::number(c.loadAverage[1], 'f', 2),
                        QString::number(c.loadAverage[2], 'f', 2));
    const bool high = result.confidence == "high";
    const QString why = result.confidenceReason.empty()
                            ? (high ? QStringLiteral("the boundary was run again and agreed") : QString())
                            : Html(result.confidenceReason);
    const QString confidence =
        QStringLiteral("<span class=\"confidence %1\">%2</span> %3")
            .arg(high ? QStringLiteral("high") : QStringLiteral("low"), Html(result.confidence), why);
    return Facts(QStringLiteral("context"),
                 {{QStringLiteral("Confidence"), confidence},
                  {QStringLiteral("Date"), Html(Utf8(c.date).replace(QLatin1Char('T'), QLatin1Char(' ')))},
                  {QStringLiteral("Host"), Html(c.host)},
                  {QStringLiteral("System"), system},
                  {QStringLiteral("CPU"), cpu},
                  {QStringLiteral("Load at the start"), load},
                  {QStringLiteral("quillon-probe"), Html(c.version)},
                  {QStringLiteral("Command line"), Words(c.commandLine)}});
}

QString ProcessCell(const std::vector<ProcessFigures> &processes)
{
    QStringList parts;
    for (const ProcessFigures &process : processes)
        parts << Html(process.name) + QStringLiteral(" ") + Decimal(process.cpuPercent) + QStringLiteral("% CPU, ") +
                     Decimal(static_cast<double>(process.rssBytes) / 1e6) + QStringLiteral(" MB");
    return parts.join(QStringLiteral("<br>"));
}

// Why a step failed, and what made it noisy.
QString WhyCell(const ProbeStep &step)
{
    QString why = Html(step.reason);
    if (step.stampsRewritten > 0)
        why += (why.isEmpty() ? QString() : QStringLiteral(", ")) +
               QStringLiteral("%1 timed before their stamps (clock or stamp rewritten)")
                   .arg(Count(static_cast<double>(step.stampsRewritten)));
    if (step.noisy) {
        if (!why.endsWith(QStringLiteral("noisy")))
            why += (why.isEmpty() ? QString() : QStringLiteral(", ")) + QStringLiteral("noisy");
        const std::string noise = NoiseReason(step.noise);
        if (!noise.empty())
            why += QStringLiteral(": ") + Html(noise);
    }
    return why;
}

QString StepsTable(const ProbeResult &result)
{
    const auto any = [&result](auto test) { return std::any_of(result.steps.begin(), result.steps.end(), test); };
    const bool runs = any([](const ProbeStep &s) { return s.attempt > 1; });
    const bool refused = any([](const ProbeStep &s) { return s.refused > 0; });
    const bool disorder = any([](const ProbeStep &s) { return s.duplicates > 0 || s.reordered > 0; });
    const bool watched = any([](const ProbeStep &s) { return !s.processes.empty(); });
    QString html = QStringLiteral("<table class=\"steps\"><thead><tr><th>Step</th><th>Offered<br>MPS</th>");
    if (runs)
        html += QStringLiteral("<th>Run</th>");
    html += QStringLiteral("<th>Delivered<br>MPS</th><th>Sent</th><th>Received</th><th>Lost</th><th>Loss</th>");
    if (refused)
        html += QStringLiteral("<th>Refused</th>");
    if (disorder)
        html += QStringLiteral("<th>Dupl.</th><th>Reord.</th>");
    html += QStringLiteral(
        "<th>p50<br>ms</th><th>p99<br>ms</th><th>Max<br>ms</th><th>Verdict</th><th class=\"text\">Why</th>");
    if (watched)
        html += QStringLiteral("<th class=\"text\">Watched processes</th>");
    html += QStringLiteral("</tr></thead><tbody>");
    for (const ProbeStep &step : result.steps) {
        const auto delivered = Delivered(result.settings, step);
        const auto p = [&step](double LatencyMs::*field) {
            return step.latency ? std::optional<double>((*step.latency).*field) : std::nullopt;
        };
        html += QStringLiteral("<tr class=\"%1\"><td>%2</td><td>%3</td>")
                    .arg(step.held ? QStringLiteral("held") : QStringLiteral("failed"), QString::number(step.number),
                         Count(step.rate));
        if (runs)
            html += QStringLiteral("<td>%1</td>").arg(step.attempt);
        html += QStringLiteral("<td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>")
                    .arg(delivered ? Count(*delivered) : QStringLiteral("–"), Count(static_cast<double>(step.sent)),
                         Count(static_cast<double>(step.received)), Count(static_cast<double>(step.lost)),
                         Optional(LossPercent(step), QStringLiteral("%")));
        if (refused)
            html += QStringLiteral("<td>%1</td>").arg(Count(static_cast<double>(step.refused)));
        if (disorder)
            html += QStringLiteral("<td>%1</td><td>%2</td>")
                        .arg(Count(static_cast<double>(step.duplicates)), Count(static_cast<double>(step.reordered)));
        html += QStringLiteral("<td>%1</td><td>%2</td><td>%3</td>")
                    .arg(Optional(p(&LatencyMs::p50)), Optional(p(&LatencyMs::p99)), Optional(p(&LatencyMs::max)));
        html += QStringLiteral("<td class=\"outcome\">%1</td><td class=\"text why\">%2</td>")
                    .arg(step.held ? QStringLiteral("holds")
                                   : (step.verdict == "stopped" ? QStringLiteral("stopped") : QStringLiteral("fails")),
                         WhyCell(step));
        if (watched)
            html +=
                QStringLiteral("<td class=\"text processes\">") + ProcessCell(step.processes) + QStringLiteral("</td>");
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</tbody></table>");
}

QString SoakBlock(const SoakResult &soak, const ProbeSettings &settings)
{
    const QString slope = soak.rssSlopeMbPerHour
                              ? QStringLiteral("%1 MB/h <span class=\"unit\">(a leak above %2 MB/h)</span>")
                                    .arg(Decimal(*soak.rssSlopeMbPerHour), Decimal(settings.maxRssGrowthMbPerHour))
                              : QStringLiteral("not measured");
    const QString lost = Count(static_cast<double>(soak.lost)) +
                         (soak.sent > 0 ? QStringLiteral(" (%1%)").arg(Decimal(100.0 * static_cast<double>(soak.lost) /
                                                                               static_cast<double>(soak.sent)))
                                        : QString());
    QString html = QStringLiteral("<p class=\"soak-verdict %1\"><strong>%2</strong>: %3</p>")
                       .arg(soak.verdict == "holds" ? QStringLiteral("holds") : QStringLiteral("fails"),
                            Html(soak.verdict), Html(soak.reason));
    html += Facts(
        QStringLiteral("soak"),
        {{QStringLiteral("Rate"), Count(soak.rate) + QStringLiteral(" MPS")},
         {QStringLiteral("Duration"), Count(soak.durationSeconds) + QStringLiteral(" s")},
         {QStringLiteral("Memory growth"), slope},
         {QStringLiteral("Collector CPU"),
          soak.cpuPercent ? Decimal(*soak.cpuPercent) + QStringLiteral("% of a core") : QStringLiteral("not measured")},
         {QStringLiteral("p99"),
          Optional(soak.p99FirstTenthMs, QStringLiteral(" ms")) + QStringLiteral(" in the first tenth, ") +
              Optional(soak.p99LastTenthMs, QStringLiteral(" ms")) + QStringLiteral(" in the last")},
         {QStringLiteral("Sent"), Count(static_cast<double>(soak.sent))},
         {QStringLiteral("Lost"), lost}});
    return html;
}

QString SettingValue(std::optional<double> value, const QString &unit = {})
{
    return value ? QString::number(*value) + unit : QStringLiteral("not set");
}

QString SettingsBlock(const ProbeSettings &s)
{
    QStringList pids;
    for (const int pid : s.watchPids)
        pids << QString::number(pid);
    const std::vector<std::pair<QString, QString>> settings = {
        {QStringLiteral("--target"), Html(s.target)},
        {QStringLiteral("--port"), QString::number(s.port)},
        {QStringLiteral("--transport"), Html(s.transport)},
        {QStringLiteral("--receive"), Html(s.receive)},
        {QStringLiteral("--start-rate"), QString::number(s.startRate)},
        {QStringLiteral("--max-rate"), SettingValue(s.maxRate)},
        {QStringLiteral("--step-seconds"), QString::number(s.stepSeconds)},
        {QStringLiteral("--drain-seconds"), QString::number(s.drainSeconds)},
        {QStringLiteral("--max-loss"), QString::number(s.maxLoss)},
        {QStringLiteral("--max-p99-ms"), SettingValue(s.maxP99Ms)},
        {QStringLiteral("--precision"), QString::number(s.precision)},
        {QStringLiteral("--confirm"), QString::number(s.confirm)},
        {QStringLiteral("--require-mps"), SettingValue(s.requireMps)},
        {QStringLiteral("--soak"), SettingValue(s.soakSeconds, QStringLiteral(" s"))},
        {QStringLiteral("--soak-rate"), SettingValue(s.soakRate)},
        {QStringLiteral("--max-rss-growth"), QString::number(s.maxRssGrowthMbPerHour) + QStringLiteral(" MB/h")},
        {QStringLiteral("--watch-pid"), pids.isEmpty() ? QStringLiteral("not set") : pids.join(QStringLiteral(", "))},
        {QStringLiteral("--watch-command"), s.watchCommand.empty() ? QStringLiteral("not set") : Html(s.watchCommand)}};
    return Facts(QStringLiteral("settings"), settings);
}

// The steps in order of offered rate, repeats after their first run, with
// what the charts by rate draw of each; a failed step's figures once more
// in a series of their own, drawn as marks.
QJsonObject ByRate(const ProbeResult &result)
{
    std::vector<const ProbeStep *> steps;
    for (const ProbeStep &step : result.steps)
        steps.push_back(&step);
    std::stable_sort(steps.begin(), steps.end(),
                     [](const ProbeStep *a, const ProbeStep *b) { return a->rate < b->rate; });
    QJsonArray offered, sent, delivered, deliveredFailed, loss, lossFailed, p50, p99, max, p99Failed;
    for (const ProbeStep *step : steps) {
        const auto through = Delivered(result.settings, *step);
        const auto percent = LossPercent(*step);
        const std::optional<double> late = step->latency ? std::optional<double>(step->latency->p99) : std::nullopt;
        offered.append(step->rate);
        sent.append(NumberOrNull(PerSecond(result.settings, *step, step->sent)));
        delivered.append(NumberOrNull(through));
        loss.append(NumberOrNull(percent));
        p50.append(NumberOrNull(step->latency ? std::optional<double>(step->latency->p50) : std::nullopt));
        p99.append(NumberOrNull(late));
        max.append(NumberOrNull(step->latency ? std::optional<double>(step->latency->max) : std::nullopt));
        deliveredFailed.append(NumberOrNull(step->held ? std::nullopt : through));
        lossFailed.append(NumberOrNull(step->held ? std::nullopt : percent));
        p99Failed.append(NumberOrNull(step->held ? std::nullopt : late));
    }
    return {{QStringLiteral("offered"), offered},
            {QStringLiteral("sent"), sent},
            {QStringLiteral("delivered"), delivered},
            {QStringLiteral("delivered_failed"), deliveredFailed},
            {QStringLiteral("loss"), loss},
            {QStringLiteral("loss_failed"), lossFailed},
            {QStringLiteral("p50"), p50},
            {QStringLiteral("p99"), p99},
            {QStringLiteral("max"), max},
            {QStringLiteral("p99_failed"), p99Failed},
            {QStringLiteral("sustained"), result.maxSustainableMps},
            {QStringLiteral("max_p99_ms"), NumberOrNull(result.settings.maxP99Ms)},
            {QStringLiteral("max_loss_percent"),
             result.settings.maxLoss > 0 ? QJsonValue(100 * result.settings.maxLoss) : QJsonValue(QJsonValue::Null)}};
}

// Each watched process's samples on one shared time axis, a gap (null)
// where a process has no sample for a second.
QJsonObject Timeline(const std::vector<WatchSample> &samples)
{
    std::map<double, std::map<int, const WatchSample *>> bySecond;
    std::vector<std::pair<int, std::string>> processes;
    for (const WatchSample &sample : samples) {
        bySecond[sample.seconds][sample.pid] = &sample;
        if (std::none_of(processes.begin(), processes.end(),
                         [&sample](const auto &p) { return p.first == sample.pid; }))
            processes.emplace_back(sample.pid, sample.name);
    }
    QJsonArray seconds, series;
    for (const auto &entry : bySecond)
        seconds.append(entry.first);
    for (const auto &[pid, name] : processes) {
        QJsonArray cpu, rss;
        for (const auto &[second, byPid] : bySecond) {
            const auto found = byPid.find(pid);
            const bool has = found != byPid.end();
            cpu.append(has ? QJsonValue(found->second->cpuPercent) : QJsonValue(QJsonValue::Null));
            rss.append(has ? QJsonValue(static_cast<double>(found->second->rssBytes) / 1e6)
                           : QJsonValue(QJsonValue::Null));
        }
        series.append(QJsonObject{{QStringLiteral("label"), QStringLiteral("%1 (%2)").arg(Utf8(name)).arg(pid)},
                                  {QStringLiteral("cpu"), cpu},
                                  {QStringLiteral("rss_mb"), rss}});
    }
    return {{QStringLiteral("seconds"), seconds}, {QStringLiteral("processes"), series}};
}

// The spans the time charts shade: each step, named by its number, and the soak.
QJsonArray Bands(const ProbeResult &result)
{
    QJsonArray bands;
    for (const ProbeStep &step : result.steps)
        if (step.endSeconds > step.startSeconds)
            bands.append(QJsonObject{{QStringLiteral("label"), QString::number(step.number)},
                                     {QStringLiteral("start"), step.startSeconds},
                                     {QStringLiteral("end"), step.endSeconds},
                                     {QStringLiteral("held"), step.held}});
    if (result.soak && result.soak->durationSeconds > 0)
        bands.append(QJsonObject{{QStringLiteral("label"), QStringLiteral("soak")},
                                 {QStringLiteral("start"), result.soak->startSeconds},
                                 {QStringLiteral("end"), result.soak->startSeconds + result.soak->durationSeconds},
                                 {QStringLiteral("held"), result.soak->verdict == "holds"}});
    return bands;
}

QJsonObject SoakSeries(const SoakResult &soak)
{
    QJsonArray minute, p99;
    for (std::size_t i = 0; i < soak.p99MsPerMinute.size(); ++i) {
        minute.append(static_cast<int>(i) + 1);
        p99.append(NumberOrNull(soak.p99MsPerMinute[i]));
    }
    return {{QStringLiteral("minute"), minute}, {QStringLiteral("p99"), p99}};
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

QString Missing(const QString &text)
{
    return QStringLiteral("<p class=\"missing\">") + text + QStringLiteral("</p>");
}

} // namespace

std::string RenderProbeReport(const ProbeResult &result)
{
    const bool latency =
        std::any_of(result.steps.begin(), result.steps.end(), [](const ProbeStep &s) { return s.latency.has_value(); });
    const bool soakLatency =
        result.soak && std::any_of(result.soak->p99MsPerMinute.begin(), result.soak->p99MsPerMinute.end(),
                                   [](const std::optional<double> &p99) { return p99.has_value(); });

    QString page;
    page += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    page += QStringLiteral("<title>quillon-probe: %1</title>").arg(Html(Subject(result)));
    // Counted before anything else runs, so a failing script shows in the page.
    page += QStringLiteral("<script>addEventListener('error',function(){var d=document.documentElement.dataset;"
                           "d.pageErrors=(+d.pageErrors||0)+1;});</script>");
    page += QStringLiteral("<style>") + Resource(QStringLiteral("uPlot.min.css")) + QStringLiteral("</style>\n");
    page += QStringLiteral("<style>") + Resource(QStringLiteral("report.css")) + QStringLiteral("</style>\n");
    page += QStringLiteral("</head><body><main><h1>How much the collector takes</h1>");
    page += QStringLiteral("<p class=\"verdict\">") + Html(Verdict(result)) + QStringLiteral("</p>");
    if (!result.error.empty())
        page += QStringLiteral("<p class=\"error\">The probe could not finish: ") + Html(result.error) +
                QStringLiteral(".</p>");
    page += QStringLiteral("<section id=\"context\">") + ContextBlock(result) + QStringLiteral("</section>");

    if (!result.steps.empty()) {
        page += QStringLiteral("<h2>By offered rate</h2>");
        page += Chart(QStringLiteral("rate"), QStringLiteral("Delivered by offered rate"),
                      QStringLiteral("messages per second, delivered until the last arrived; red: failed"));
        page += QStringLiteral("<div class=\"pair\">");
        page += Chart(QStringLiteral("loss"), QStringLiteral("Loss by offered rate"), QStringLiteral("% of sent"));
        page += latency
                    ? Chart(QStringLiteral("latency"), QStringLiteral("Latency by offered rate"), QStringLiteral("ms"))
                    : Missing(QStringLiteral("No latency was measured, so there is no latency chart."));
        page += QStringLiteral("</div><h2>Steps</h2><div class=\"table-wrap\">") + StepsTable(result) +
                QStringLiteral("</div>");
    }
    if (result.soak) {
        page += QStringLiteral("<h2>Soak</h2>") + SoakBlock(*result.soak, result.settings);
        page += soakLatency ? Chart(QStringLiteral("soak"), QStringLiteral("Soak: p99 latency per minute"),
                                    QStringLiteral("ms"))
                            : Missing(QStringLiteral("No latency was measured in the soak."));
    }

    page += QStringLiteral("<h2>Watched processes</h2>");
    if (!result.detachedNote.empty())
        page += QStringLiteral("<p class=\"note-box\">") + Html(result.detachedNote) + QStringLiteral(".</p>");
    if (!result.watchSamples.empty()) {
        page += Chart(QStringLiteral("cpu"), QStringLiteral("CPU over time"),
                      QStringLiteral("% of one core; shaded: steps and soak, red: failed"));
        page += Chart(QStringLiteral("memory"), QStringLiteral("Resident memory over time"),
                      QStringLiteral("MB; shaded: steps and soak, red: failed"));
    } else {
        page += Missing(QStringLiteral("No process was watched (--watch-pid or --watch-command), so there are no "
                                       "CPU and memory charts."));
    }
    page += QStringLiteral("<h2>Settings</h2>") + SettingsBlock(result.settings);

    QJsonObject data{{QStringLiteral("by_rate"), ByRate(result)},
                     {QStringLiteral("timeline"), Timeline(result.watchSamples)},
                     {QStringLiteral("bands"), Bands(result)},
                     {QStringLiteral("result"), ProbeResultJson(result)}};
    if (result.soak)
        data.insert(QStringLiteral("soak"), SoakSeries(*result.soak));
    page += QStringLiteral("</main>\n<script type=\"application/json\" id=\"probe-data\">") + ScriptJson(data) +
            QStringLiteral("</script>\n");
    page += QStringLiteral("<script>") + Resource(QStringLiteral("uPlot.iife.min.js")) + QStringLiteral("</script>\n");
    page += QStringLiteral("<script>") + Resource(QStringLiteral("report.js")) + QStringLiteral("</script>\n");
    page += QStringLiteral("</body></html>\n");
    return page.toStdString();
}
