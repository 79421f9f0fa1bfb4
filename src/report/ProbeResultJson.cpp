#include "report/ProbeResultJson.h"

#include "report/JsonText.h"

#include <QJsonArray>

namespace {
QJsonValue Optional(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue Count(std::int64_t value)
{
    return QJsonValue(static_cast<qint64>(value));
}

QJsonObject ProcessJson(int pid, const std::string &name, double cpuPercent, std::int64_t rssBytes)
{
    QJsonObject json;
    json.insert(QStringLiteral("pid"), pid);
    json.insert(QStringLiteral("name"), JsonText(name));
    json.insert(QStringLiteral("cpu_percent"), cpuPercent);
    json.insert(QStringLiteral("rss_bytes"), Count(rssBytes));
    return json;
}

QJsonObject SettingsJson(const ProbeSettings &s)
{
    QJsonObject json;
    json.insert(QStringLiteral("target"), JsonText(s.target));
    json.insert(QStringLiteral("port"), s.port);
    json.insert(QStringLiteral("transport"), JsonText(s.transport));
    json.insert(QStringLiteral("receive"), JsonText(s.receive));
    json.insert(QStringLiteral("start_rate"), s.startRate);
    json.insert(QStringLiteral("max_rate"), Optional(s.maxRate));
    json.insert(QStringLiteral("step_seconds"), s.stepSeconds);
    json.insert(QStringLiteral("drain_seconds"), s.drainSeconds);
    json.insert(QStringLiteral("max_loss"), s.maxLoss);
    json.insert(QStringLiteral("max_duplicates"), s.maxDuplicates);
    json.insert(QStringLiteral("max_p99_ms"), Optional(s.maxP99Ms));
    json.insert(QStringLiteral("precision"), s.precision);
    json.insert(QStringLiteral("require_mps"), Optional(s.requireMps));
    json.insert(QStringLiteral("confirm"), s.confirm);
    QJsonArray pids;
    for (const int pid : s.watchPids)
        pids.append(pid);
    json.insert(QStringLiteral("watch_pids"), pids);
    json.insert(QStringLiteral("watch_command"),
                s.watchCommand.empty() ? QJsonValue(QJsonValue::Null) : JsonText(s.watchCommand));
    json.insert(QStringLiteral("soak_seconds"), Optional(s.soakSeconds));
    json.insert(QStringLiteral("soak_rate"), Optional(s.soakRate));
    json.insert(QStringLiteral("max_rss_growth_mb_per_hour"), s.maxRssGrowthMbPerHour);
    return json;
}

QJsonObject ContextJson(const ProbeContext &c)
{
    QJsonObject json;
    json.insert(QStringLiteral("date"), JsonText(c.date));
    json.insert(QStringLiteral("host"), JsonText(c.host));
    json.insert(QStringLiteral("system"), JsonText(c.system));
    json.insert(QStringLiteral("kernel"), JsonText(c.kernel));
    json.insert(QStringLiteral("cpu_model"), JsonText(c.cpuModel));
    json.insert(QStringLiteral("cpu_count"), c.cpuCount);
    QJsonArray load;
    for (const double average : c.loadAverage)
        load.append(average);
    json.insert(QStringLiteral("load_average"), c.loadAverage.empty() ? QJsonValue(QJsonValue::Null) : load);
    json.insert(QStringLiteral("version"), JsonText(c.version));
    json.insert(QStringLiteral("command_line"), JsonText(c.commandLine));
    return json;
}

QJsonObject SoakJson(const SoakResult &soak)
{
    QJsonObject json;
    json.insert(QStringLiteral("rate"), soak.rate);
    json.insert(QStringLiteral("start_seconds"), soak.startSeconds);
    json.insert(QStringLiteral("duration_seconds"), soak.durationSeconds);
    json.insert(QStringLiteral("rss_slope_mb_per_hour"), Optional(soak.rssSlopeMbPerHour));
    json.insert(QStringLiteral("cpu_percent"), Optional(soak.cpuPercent));
    QJsonArray minutes;
    for (const std::optional<double> &p99 : soak.p99MsPerMinute)
        minutes.append(Optional(p99));
    json.insert(QStringLiteral("p99_ms_per_minute"), minutes);
    json.insert(QStringLiteral("p99_ms_first_tenth"), Optional(soak.p99FirstTenthMs));
    json.insert(QStringLiteral("p99_ms_last_tenth"), Optional(soak.p99LastTenthMs));
    json.insert(QStringLiteral("sent"), Count(soak.sent));
    json.insert(QStringLiteral("lost"), Count(soak.lost));
    json.insert(QStringLiteral("verdict"), JsonText(soak.verdict));
    json.insert(QStringLiteral("reason"), JsonText(soak.reason));
    return json;
}

QJsonObject NoiseJson(const StepNoise &noise)
{
    QJsonObject json;
    json.insert(QStringLiteral("idle_cpu_share"), noise.idleCpuShare);
    json.insert(QStringLiteral("steal_share"), noise.stealShare);
    json.insert(QStringLiteral("probe_cpu_percent"), noise.probeCpuPercent);
    json.insert(QStringLiteral("probe_wait_share"), noise.probeWaitShare);
    json.insert(QStringLiteral("collector_cpu_percent"), Optional(noise.collectorCpuPercent));
    return json;
}

void InsertAnswer(QJsonObject &json, const ProbeResult &result)
{
    json.insert(QStringLiteral("max_sustainable_mps"), result.maxSustainableMps);
    json.insert(QStringLiteral("limited_by"),
                result.limitedBy.empty() ? QJsonValue(QJsonValue::Null) : JsonText(result.limitedBy));
    json.insert(QStringLiteral("confirmed"), result.confirmed);
    json.insert(QStringLiteral("confidence"), JsonText(result.confidence));
    json.insert(QStringLiteral("confidence_reason"), JsonText(result.confidenceReason));
}
} // namespace

QJsonObject ProcessFiguresJson(const ProcessFigures &process)
{
    return ProcessJson(process.pid, process.name, process.cpuPercent, process.rssBytes);
}

QJsonObject ProbeStepJson(const ProbeStep &step)
{
    QJsonObject json;
    json.insert(QStringLiteral("step"), step.number);
    json.insert(QStringLiteral("rate"), step.rate);
    json.insert(QStringLiteral("attempt"), step.attempt);
    json.insert(QStringLiteral("run_id"), JsonText(step.runId));
    json.insert(QStringLiteral("sent"), Count(step.sent));
    json.insert(QStringLiteral("received"), Count(step.received));
    json.insert(QStringLiteral("lost"), Count(step.lost));
    json.insert(QStringLiteral("refused"), Count(step.refused));
    json.insert(QStringLiteral("duplicates"), Count(step.duplicates));
    json.insert(QStringLiteral("reordered"), Count(step.reordered));
    json.insert(QStringLiteral("stamps_rewritten"), Count(step.stampsRewritten));
    if (step.latency) {
        QJsonObject latency;
        latency.insert(QStringLiteral("p50"), step.latency->p50);
        latency.insert(QStringLiteral("p99"), step.latency->p99);
        latency.insert(QStringLiteral("max"), step.latency->max);
        json.insert(QStringLiteral("latency_ms"), latency);
    } else {
        json.insert(QStringLiteral("latency_ms"), QJsonValue(QJsonValue::Null));
    }
    json.insert(QStringLiteral("held"), step.held);
    json.insert(QStringLiteral("verdict"), JsonText(step.verdict));
    json.insert(QStringLiteral("reason"), JsonText(step.reason));
    json.insert(QStringLiteral("noisy"), step.noisy);
    json.insert(QStringLiteral("noise"), NoiseJson(step.noise));
    json.insert(QStringLiteral("start_seconds"), step.startSeconds);
    json.insert(QStringLiteral("end_seconds"), step.endSeconds);
    QJsonArray processes;
    for (const ProcessFigures &process : step.processes)
        processes.append(ProcessFiguresJson(process));
    json.insert(QStringLiteral("processes"), processes);
    return json;
}

QJsonObject ProbeResultJson(const ProbeResult &result)
{
    QJsonObject json;
    InsertAnswer(json, result);
    QJsonArray steps;
    for (const ProbeStep &step : result.steps)
        steps.append(ProbeStepJson(step));
    json.insert(QStringLiteral("steps"), steps);
    QJsonArray samples;
    for (const WatchSample &sample : result.watchSamples) {
        QJsonObject entry = ProcessJson(sample.pid, sample.name, sample.cpuPercent, sample.rssBytes);
        entry.insert(QStringLiteral("seconds"), sample.seconds);
        samples.append(entry);
    }
    json.insert(QStringLiteral("watch_samples"), samples);
    json.insert(QStringLiteral("settings"), SettingsJson(result.settings));
    json.insert(QStringLiteral("context"), ContextJson(result.context));
    if (!result.detachedNote.empty()) {
        QJsonObject detached;
        QJsonArray pids;
        for (const int pid : result.detachedPids)
            pids.append(pid);
        detached.insert(QStringLiteral("pids"), pids);
        detached.insert(QStringLiteral("note"), JsonText(result.detachedNote));
        json.insert(QStringLiteral("detached"), detached);
    }
    json.insert(QStringLiteral("soak"),
                result.soak ? QJsonValue(SoakJson(*result.soak)) : QJsonValue(QJsonValue::Null));
    if (!result.error.empty())
        json.insert(QStringLiteral("error"), JsonText(result.error));
    return json;
}

QJsonObject ProbeAnswerJson(const ProbeResult &result)
{
    QJsonObject json;
    InsertAnswer(json, result);
    if (result.soak)
        json.insert(QStringLiteral("soak"), SoakJson(*result.soak));
    return json;
}
