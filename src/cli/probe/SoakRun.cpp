#include "cli/probe/SoakRun.h"

#include "cli/probe/PrefixedLines.h"
#include "cli/probe/ProbeReceiver.h"
#include "cli/probe/StepSender.h"
#include "common/StopFlag.h"
#include "common/TextHelpers.h"
#include "load/RunSummary.h"
#include "probe/ProcessWatch.h"
#include "probe/SoakJudge.h"
#include "report/JsonText.h"
#include "report/ProbeResultJson.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <map>

namespace {
constexpr double MinuteSeconds = 60;
constexpr int LeastRuns = 10;
// What the start of a run (a connection, a busy machine) may cost it, as a step allows.
constexpr double StartSeconds = 0.1;

struct Segment {
    std::string runId;
    double startSeconds = 0; // from the soak's start
    std::int64_t sent = 0;
    std::int64_t asked = 0;
};

std::optional<double> P99Ms(const DeliveryFigures &figures)
{
    if (figures.latency.samples == 0)
        return std::nullopt;
    return static_cast<double>(figures.latency.p99) / 1000.0;
}

std::vector<std::string> RunIds(std::vector<Segment>::const_iterator from, std::vector<Segment>::const_iterator to)
{
    std::vector<std::string> runs;
    for (auto segment = from; segment != to; ++segment)
        runs.push_back(segment->runId);
    return runs;
}
} // namespace

SoakRun::SoakRun(const ProbeOptions &options, StepSender &sender, ProbeReceiver &receiver, const ProcessWatch *watch,
                 const ProbeClock &clock, std::ostream &err, std::function<void(const QJsonObject &)> record)
    : m_options(options), m_sender(sender), m_receiver(receiver), m_watch(watch), m_clock(clock), m_err(err),
      m_record(std::move(record))
{}

SoakResult SoakRun::Run(double rate, const std::string &runBase)
{
    const double duration = *m_options.soakSeconds;
    const int runs = std::max(LeastRuns, static_cast<int>(std::ceil(duration / MinuteSeconds)));
    const double runSeconds = duration / runs;
    m_err << "quillon-probe: soak at " << Grouped(std::llround(rate)) << " MPS for " << Fixed(duration, 0) << " s"
          << std::endl;

    std::vector<Segment> segments;
    std::string senderError;
    const double start = m_clock.Seconds();
    for (int k = 0; k < runs && !StopRequested(); ++k) {
        Segment segment;
        segment.runId = runBase.substr(0, 8) + "-s" + std::to_string(k);
        segment.startSeconds = m_clock.Seconds() - start;
        PrefixedLines progressLines(m_err, "soak " + std::to_string(k + 1) + "/" + std::to_string(runs) + " (" +
                                               Grouped(std::llround(rate)) + " MPS): ");
        std::ostream progress(&progressLines);
        const double from = m_clock.Seconds();
        const RunSummary sent = m_sender.Run(segment.runId, rate, runSeconds, m_options.progress ? &progress : nullptr);
        segment.sent = sent.sent;
        // A run a stop signal cut short asked no more than it sent.
        segment.asked =
            sent.stoppedBy == "signal" ? sent.sent : std::llround(std::max(0.0, rate * (runSeconds - StartSeconds)));
        segments.push_back(segment);

        const DeliveryFigures so = m_receiver.Figures(segment.runId);
        const std::optional<double> p99 = P99Ms(so);
        std::string line = "soak " + std::to_string(k + 1) + "/" + std::to_string(runs) + ": " + Grouped(segment.sent) +
                           " sent, " + Grouped(static_cast<std::int64_t>(so.received)) + " arrived";
        if (p99)
            line += ", p99 " + Fixed(*p99, 1) + " ms";
        QJsonArray processes;
        if (m_watch)
            for (const ProcessFigures &process : m_watch->Between(from, m_clock.Seconds())) {
                line += ", " + process.name + " " + Fixed(process.cpuPercent, 0) + "% CPU, " +
                        Fixed(static_cast<double>(process.rssBytes) / (1024.0 * 1024.0), 1) + " MB";
                processes.append(ProcessFiguresJson(process));
            }
        m_err << line << std::endl;
        // What had arrived when the run ended; the soak's loss counts the rest after the drain.
        m_record(QJsonObject{
            {QStringLiteral("soak_run"), k + 1},
            {QStringLiteral("of"), runs},
            {QStringLiteral("run_id"), JsonText(segment.runId)},
            {QStringLiteral("rate"), rate},
            {QStringLiteral("start_seconds"), from},
            {QStringLiteral("sent"), static_cast<qint64>(segment.sent)},
            {QStringLiteral("received"), static_cast<qint64>(std::min<std::uint64_t>(so.received, CountCap))},
            {QStringLiteral("p99_ms"), p99 ? QJsonValue(*p99) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("processes"), processes}});
        if (sent.sent == 0 && sent.exitStatus != 0) {
            senderError = sent.error.empty() ? m_sender.Complaint() : sent.error;
            break;
        }
    }
    // The drain is no part of the soak: the collector's memory and CPU are
    // judged over the sending alone.
    const double end = m_clock.Seconds();
    m_receiver.WaitForQuiet(m_options.drainSeconds);

    SoakResult result;
    result.rate = rate;
    result.startSeconds = start;
    result.durationSeconds = end - start;
    SoakFigures figures;
    for (const Segment &segment : segments) {
        const DeliveryFigures arrived = m_receiver.Figures(segment.runId);
        result.sent += segment.sent;
        result.lost += std::max<std::int64_t>(
            0, segment.sent - static_cast<std::int64_t>(std::min<std::uint64_t>(arrived.received, CountCap)));
        figures.asked += segment.asked;
    }
    std::map<int, std::vector<std::string>> minutes;
    for (const Segment &segment : segments)
        minutes[static_cast<int>(segment.startSeconds / MinuteSeconds)].push_back(segment.runId);
    for (const auto &[minute, ids] : minutes)
        result.p99MsPerMinute.push_back(P99Ms(m_receiver.Figures(ids)));
    if (!segments.empty()) {
        const auto tenth = static_cast<std::ptrdiff_t>(std::max<std::size_t>(1, segments.size() / 10));
        result.p99FirstTenthMs = P99Ms(m_receiver.Figures(RunIds(segments.begin(), segments.begin() + tenth)));
        result.p99LastTenthMs = P99Ms(m_receiver.Figures(RunIds(segments.end() - tenth, segments.end())));
    }
    if (m_watch) {
        // The first tenth fills queues and caches: growth then is no leak.
        const double settled = start + (end - start) / 10;
        std::vector<WatchSample> during;
        std::map<int, std::pair<double, int>> cpu;
        for (const WatchSample &sample : m_watch->Samples()) {
            if (sample.seconds < start || sample.seconds > end)
                continue;
            if (sample.seconds >= settled)
                during.push_back(sample);
            cpu[sample.pid].first += sample.cpuPercent;
            ++cpu[sample.pid].second;
        }
        result.rssSlopeMbPerHour = RssSlopeMbPerHour(during);
        for (const auto &[pid, sum] : cpu)
            result.cpuPercent = result.cpuPercent.value_or(0) + sum.first / sum.second;
    }

    figures.seconds = result.durationSeconds;
    figures.sent = result.sent;
    figures.lost = result.lost;
    figures.rssSlopeMbPerHour = result.rssSlopeMbPerHour;
    figures.p99FirstTenthMs = result.p99FirstTenthMs;
    figures.p99LastTenthMs = result.p99LastTenthMs;
    const SoakJudgement judged = JudgeSoak(figures, {m_options.maxRssGrowthMbPerHour, m_options.maxLoss});
    result.verdict = judged.verdict;
    result.reason = judged.reason;
    if (!senderError.empty())
        result.reason += "; the sender stopped: " + senderError;
    if (StopRequested())
        result.reason += "; stopped by a signal after " + Fixed(result.durationSeconds, 0) + " s";
    return result;
}
