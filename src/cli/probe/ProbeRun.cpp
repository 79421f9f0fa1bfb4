#include "cli/probe/ProbeRun.h"

#include "cli/probe/PrefixedLines.h"
#include "cli/probe/ProbeReceiver.h"
#include "cli/probe/SoakRun.h"
#include "cli/probe/StepSender.h"
#include "common/StopFlag.h"
#include "common/TextHelpers.h"
#include "common/Version.h"
#include "engine/Stamp.h"
#include "load/RunSummary.h"
#include "metrics/ProgramMetrics.h"
#include "probe/Leftovers.h"
#include "probe/LocalPort.h"
#include "probe/OutputPath.h"
#include "probe/ProcessWatch.h"
#include "probe/RateSearch.h"
#include "probe/RunContext.h"
#include "probe/StepNoise.h"
#include "probe/WatchedCommand.h"
#include "report/JsonText.h"
#include "report/ProbeReport.h"
#include "report/ProbeResultJson.h"
#include "report/ProgressLine.h"
#include "report/StatsFile.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

namespace {
constexpr int UsageErrorStatus = 2;
// A step reached its rate when it sent this share of what it was asked,
// less what the start of a run (a connection, a busy machine) may cost.
constexpr double SentShareReached = 0.97;
constexpr double StartSeconds = 0.1;
// A sending thread on a processor or waiting for one this share of the
// time never waited for the collector: it set the pace itself.
constexpr double SenderBusyShare = 0.9;
// The latency of the step's first and last moments is compared over this
// share of the step, a second at most.
constexpr double LatencyWindowShare = 0.1;
// A soak after the search holds this share of the rate found.
constexpr double SoakShare = 0.9;

std::string ConnectionsText(std::int64_t count)
{
    return Grouped(count) + (count == 1 ? " connection" : " connections");
}

LatencyMs Milliseconds(const LatencyFigures &figures)
{
    return {figures.p50 / 1000.0, figures.p99 / 1000.0, figures.max / 1000.0};
}

std::string StepRunId(const std::string &base, int step)
{
    return base.substr(0, 10) + "-" + std::to_string(step);
}

ProbeSettings SettingsOf(const ProbeOptions &o)
{
    ProbeSettings s;
    s.target = o.send.target;
    s.port = o.send.port;
    s.transport = o.transport;
    s.receive = o.receive.text;
    s.startRate = o.startRate;
    s.maxRate = o.maxRate;
    s.stepSeconds = o.stepSeconds;
    s.drainSeconds = o.drainSeconds;
    s.maxLoss = o.maxLoss;
    s.maxDuplicates = o.maxDuplicates;
    s.maxP99Ms = o.maxP99Ms;
    s.precision = o.precision;
    s.requireMps = o.requireMps;
    s.confirm = o.confirm;
    s.watchPids = o.watchPids;
    s.watchCommand = o.watchCommand;
    s.soakSeconds = o.soakSeconds;
    s.soakRate = o.soakRate;
    s.maxRssGrowthMbPerHour = o.maxRssGrowthMbPerHour;
    return s;
}

class Probe {
public:
    Probe(const ProbeOptions &options, std::ostream &err, MetricsSink *metrics = nullptr)
        : m_options(options), m_err(err), m_metrics(metrics)
    {
        m_result.settings = SettingsOf(options);
        std::random_device random;
        m_runBase = RunIdFromNumber((std::uint64_t{random()} << 32) | random());
    }

    bool UsageErrorHappened() const { return m_usageError; }

    ProbeResult Go()
    {
        m_result.context = ReadRunContext(m_options.commandLine);
        for (const std::string &ended : EndAllLeftovers())
            m_err << "quillon-probe: " << ended << std::endl;
        for (const auto &[flag, path] :
             {std::pair{"--report", m_options.report}, {"--stats-file", m_options.statsFile}})
            if (const std::optional<std::string> why = UnwritableReason(path))
                return Failed(std::string(flag) + ": cannot write '" + path + "': " + *why);
        std::vector<int> pids = m_options.watchPids;
        for (const int pid : pids)
            if (!m_reader.Read(pid))
                return Failed("--watch-pid " + std::to_string(pid) + ": no such process");
        if (!m_options.statsFile.empty() && !m_stats.Open(m_options.statsFile))
            return Failed(m_stats.Outcome().Why());
        if (const Status receiving = m_receiver.Start(m_options); !receiving)
            return Failed(receiving.Why());
        m_err << "quillon-probe: receiving on " << m_receiver.Where() << std::endl;
        if (!m_options.watchCommand.empty()) {
            if (const Status started = m_command.Start(m_options.watchCommand); !started)
                return Failed(started.Why());
            m_err << "quillon-probe: started '" << m_options.watchCommand << "' as process " << m_command.Pid()
                  << std::endl;
            const CollectorUp up = AwaitCollector();
            if (!up.error.empty()) {
                m_result.error = up.error;
                return m_result;
            }
            const Leftovers &record = m_command.Record();
            m_err << "quillon-probe: what it started is "
                  << (record.Cgroup().empty() ? "listed" : "in cgroup " + record.Cgroup() + ", named") << " in "
                  << record.Path() << " (quillon-probe --cleanup ends it after a kill)" << std::endl;
            pids.insert(pids.end(), up.pids.begin(), up.pids.end());
            m_result.settings.watchPids = pids;
            m_result.detachedNote = up.detachedNote;
            m_result.detachedPids = up.detachedPids;
            if (!up.detachedNote.empty())
                m_err << "quillon-probe: " << up.detachedNote << std::endl;
        } else if (!pids.empty() && !AwaitWatchedTarget(pids)) {
            return m_result;
        }
        ProcessWatch watch(pids, m_reader, m_clock);
        watch.Start();
        m_watch = &watch;
        m_sender.emplace(m_options.send);

        RateSearch search({m_options.startRate, m_options.maxRate, m_options.precision, m_options.confirm});
        // --soak-rate: the soak alone.
        while (const auto rate = m_options.soakRate ? std::nullopt : search.NextRate()) {
            if (StopRequested()) {
                m_result.error = "stopped by a signal";
                break;
            }
            const std::optional<StepVerdict> verdict = Step(*rate);
            if (!verdict)
                break;
            const ProbeStep &step = m_result.steps.back();
            search.Record(*rate, {*verdict, step.latency ? std::optional<double>(step.latency->p99) : std::nullopt});
        }
        if (m_options.soakSeconds && m_result.error.empty())
            Soak(m_options.soakRate ? *m_options.soakRate : SoakShare * search.MaxSustainable());
        watch.Stop();
        if (m_command.Started()) {
            const std::string ending = m_command.Stop();
            m_err << "quillon-probe: stopped '" << m_options.watchCommand << "': " << ending << std::endl;
        }
        m_result.watchSamples = watch.Samples();
        m_watch = nullptr;
        m_result.maxSustainableMps = search.MaxSustainable();
        m_result.limitedBy = m_refusedAll ? "refused" : search.LimitedBy();
        m_result.confirmed = search.Confirmed();
        AssessConfidence(m_result);
        if (m_stats.IsOpen())
            m_stats.Write(Timed(ProbeAnswerJson(m_result)));
        if (!m_stats.Outcome() && m_result.error.empty())
            m_result.error = m_stats.Outcome().Why();
        return m_result;
    }

private:
    ProbeResult Failed(const std::string &error)
    {
        m_result.error = error;
        m_usageError = true;
        return m_result;
    }

    // A collector just started takes a moment to bind its port; messages
    // sent before that would count against it.
    CollectorUp AwaitCollector()
    {
        const std::string &target = m_options.send.target;
        const std::string &transport = m_options.transport;
        if ((target != "127.0.0.1" && target != "::1" && target != "localhost") ||
            (transport != "udp" && transport != "tcp" && transport != "tls" && transport != "relp"))
            return {{m_command.Pid()}, {}, {}, {}};
        return m_command.AwaitPort(m_options.send.port, m_options.send.transport, m_options.send.connectTimeout);
    }

    void Soak(double rate)
    {
        if (rate <= 0) {
            m_result.error = "--soak: no rate held, so there was none to soak at";
            return;
        }
        SoakRun soak(m_options, *m_sender, m_receiver, m_watch, m_clock, m_err, [this](const QJsonObject &run) {
            if (m_stats.IsOpen())
                m_stats.Write(Timed(run));
        });
        m_result.soak = soak.Run(std::round(rate), m_runBase);
        if (StopRequested())
            m_result.error = "stopped by a signal";
    }

    // A collector started just before the probe may not listen yet: what
    // is sent before it does would count against it.
    bool AwaitWatchedTarget(const std::vector<int> &pids)
    {
        const std::string &target = m_options.send.target;
        const std::string &transport = m_options.transport;
        if ((target != "127.0.0.1" && target != "::1" && target != "localhost") ||
            (transport != "udp" && transport != "tcp" && transport != "tls"))
            return true;
        const std::string port = std::to_string(m_options.send.port);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(m_options.send.connectTimeout);
        for (bool told = false; !LocalPortBound(m_options.send.port, m_options.send.transport); told = true) {
            if (!told)
                m_err << "quillon-probe: waiting for port " << port << " to be bound" << std::endl;
            for (const int pid : pids)
                if (!m_reader.Read(pid)) {
                    m_result.error = "--watch-pid " + std::to_string(pid) + " ended before port " + port + " was bound";
                    return false;
                }
            if (StopRequested() || std::chrono::steady_clock::now() >= deadline) {
                m_result.error = "nothing bound port " + port + " within --connect-timeout";
                return false;
            }
            // /proc/net tells no one when a port is bound, so it is read again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    static QJsonObject Timed(QJsonObject record)
    {
        record.insert(QStringLiteral("time"), static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000);
        return record;
    }

    // The stats file has each step as it is judged.
    void Keep(const ProbeStep &step)
    {
        if (m_stats.IsOpen())
            m_stats.Write(Timed(ProbeStepJson(step)));
        m_result.steps.push_back(step);
        if (m_metrics)
            m_metrics->Publish(
                ProbeMetrics({m_runBase, "", m_options.transport}, m_result.steps, m_options.stepSeconds));
    }

    std::optional<StepVerdict> Step(double rate)
    {
        ProbeStep step;
        step.number = static_cast<int>(m_result.steps.size()) + 1;
        step.rate = rate;
        for (const ProbeStep &earlier : m_result.steps)
            step.attempt += earlier.rate == rate ? 1 : 0;
        step.runId = StepRunId(m_runBase, step.number);
        if (m_command.Started())
            m_command.Note();
        PrefixedLines progressLines(m_err, "step " + std::to_string(step.number) + " (" + Grouped(std::llround(rate)) +
                                               " MPS): ");
        std::ostream progress(&progressLines);
        step.startSeconds = m_clock.Seconds();
        const IntakeCounts before = m_receiver.Counts();
        const double window = std::min(1.0, LatencyWindowShare * m_options.stepSeconds);
        const auto start = std::chrono::steady_clock::now();
        const auto at = [start](double seconds) {
            return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(seconds));
        };
        m_receiver.WatchLatency(step.runId, {at(window), at(m_options.stepSeconds - window)});
        m_noise.Start();
        const RunSummary sent =
            m_sender->Run(step.runId, rate, m_options.stepSeconds, m_options.progress ? &progress : nullptr);
        step.noise = m_noise.Finish(sent.threadWaitShare);
        m_receiver.WaitForQuiet(m_options.drainSeconds);
        // A signal that cut the sending or the drain short leaves a step
        // that fell short for that alone.
        const bool stopped = sent.stoppedBy == "signal" || StopRequested();
        step.endSeconds = m_clock.Seconds();
        std::uint64_t stamped = 0;
        for (const RunSummary::StampedStream &stream : sent.streams)
            stamped += stream.lastSeq;
        const DeliveryFigures figures = m_receiver.Figures(step.runId, stamped);
        const std::vector<LatencyHistogram<std::uint64_t>> snapshots = m_receiver.LatencySnapshots();

        step.sent = sent.sent;
        step.received = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.received, CountCap));
        step.refused = sent.refused + sent.refusedConnections;
        // Refused datagrams left gaps in the stamps, but were never the collector's.
        step.lost = std::max<std::int64_t>(
            0, static_cast<std::int64_t>(std::min<std::uint64_t>(figures.lost, CountCap)) - sent.refused);
        step.duplicates = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.duplicates, CountCap));
        step.reordered = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.reordered, CountCap));
        step.stampsRewritten = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.untimely, CountCap));
        if (figures.latency.samples > 0)
            step.latency = Milliseconds(figures.latency);
        if (m_watch)
            step.processes = m_watch->Between(step.startSeconds, step.endSeconds);
        for (const ProcessFigures &process : step.processes)
            step.noise.collectorCpuPercent = step.noise.collectorCpuPercent.value_or(0) + process.cpuPercent;

        StepOutcome outcome;
        outcome.sent = step.sent;
        outcome.lost = step.lost;
        outcome.received = step.received;
        outcome.duplicates = step.duplicates;
        if (step.latency)
            outcome.p99Ms = step.latency->p99;
        // Over the step as a whole: a short step has too few full seconds for the sender's own figure.
        outcome.senderShort =
            static_cast<double>(sent.sent) < rate * (SentShareReached * m_options.stepSeconds - StartSeconds);
        outcome.senderBound = sent.spread.senderBoundSeconds > 0 || sent.busiestThreadShare >= SenderBusyShare;
        outcome.sentShare = static_cast<double>(sent.sent) / (rate * m_options.stepSeconds);
        outcome.stream = IsStream(m_options.send.transport);
        outcome.refused = step.refused;
        outcome.blockedSeconds = sent.blockedSeconds;
        outcome.queuedBytes = sent.queuedBytes;
        outcome.untakenBytes = sent.untakenBytes;
        outcome.late = sent.late;
        outcome.stepSeconds = m_options.stepSeconds;
        if (sent.sent > 0)
            outcome.bytesPerSecond = static_cast<double>(sent.bytes) / static_cast<double>(sent.sent) * rate;
        // What arrived in the step's first window, and from its last one on, the drain included.
        if (snapshots.size() == 3) {
            LatencyHistogram<std::uint64_t> last = snapshots[2];
            last.Remove(snapshots[1]);
            if (snapshots[0].Samples() > 0)
                outcome.firstP99Ms = static_cast<double>(snapshots[0].Percentile(0.99)) / 1000;
            if (last.Samples() > 0) {
                outcome.lastP99Ms = static_cast<double>(last.Percentile(0.99)) / 1000;
                outcome.lastP10Ms = static_cast<double>(last.Percentile(0.1)) / 1000;
            }
        }
        const StepJudgement judged =
            JudgeStep(outcome, {m_options.maxLoss, m_options.maxP99Ms, m_options.maxDuplicates});
        const StepVerdict verdict = judged.verdict;
        step.held = !stopped && verdict == StepVerdict::Holds;
        step.verdict = stopped ? "stopped" : VerdictName(verdict);
        step.reason = stopped ? "stopped by a signal" : judged.reason;
        step.noisy = !NoiseReason(step.noise).empty();
        if (step.noisy && !step.held && !stopped)
            step.reason += ", noisy";
        m_err << StepLine(step, m_options.stepSeconds) << std::endl;
        // Messages came but none carried a stamp: a collector's template that
        // drops it looks like total loss, and every other step would too.
        const IntakeCounts after = m_receiver.Counts();
        if (after.messages > before.messages && after.stamped == before.stamped) {
            m_result.steps.push_back(step);
            m_result.error = MessagesText(static_cast<std::int64_t>(after.messages - before.messages)) +
                             " arrived during step " + std::to_string(step.number) +
                             " but no stamp could be read: the collector must keep the message text's end (RFC "
                             "3164) or its structured data (RFC 5424)";
            return std::nullopt;
        }
        // A stop signal while the sender was connecting is no failure of the step.
        if (step.sent == 0 && sent.stoppedBy == "signal") {
            m_result.steps.push_back(step);
            m_result.error = "stopped by a signal";
            return std::nullopt;
        }
        // The sender's own complaint (a refused connection) says why a step sent nothing.
        if (sent.exitStatus != 0)
            m_err << m_sender->Complaint();
        // Nothing listens there: no rate will do better.
        if (step.received == 0 && step.refused > 0) {
            Keep(step);
            m_refusedAll = true;
            m_result.error =
                "nothing listens at " + TargetTextOf(m_options.send) + ": " +
                (sent.refusedConnections > 0 ? ConnectionsText(sent.refusedConnections)
                                             : Grouped(sent.refused) + " of " + Grouped(sent.sent) + " datagrams") +
                " refused in step " + std::to_string(step.number);
            return std::nullopt;
        }
        if (step.sent == 0 && sent.exitStatus != 0) {
            m_result.steps.push_back(step);
            m_result.error = "step " + std::to_string(step.number) + " sent nothing" +
                             (sent.error.empty() ? std::string() : ": " + sent.error);
            return std::nullopt;
        }
        Keep(step);
        if (stopped) {
            m_result.error = "stopped by a signal";
            return std::nullopt;
        }
        return verdict;
    }

    const ProbeOptions &m_options;
    std::ostream &m_err;
    MetricsSink *m_metrics;
    ProbeResult m_result;
    std::string m_runBase;
    ProbeClock m_clock;
    ProcReader m_reader;
    ProbeReceiver m_receiver;
    // Made just before the first step, as a sender reads its files when it starts.
    std::optional<StepSender> m_sender;
    WatchedCommand m_command;
    StatsFile m_stats;
    ProcessWatch *m_watch = nullptr;
    NoiseMeter m_noise{m_reader};
    bool m_usageError = false;
    bool m_refusedAll = false;
};

} // namespace

ProbeResult RunProbe(const ProbeOptions &options, std::ostream &err)
{
    Probe probe(options, err);
    return probe.Go();
}

namespace {
// The probe and its output; the exit status.
int ProbeAndReport(const ProbeOptions &options, std::ostream &out, std::ostream &err, MetricsSink *metrics)
{
    Probe probe(options, err, metrics);
    const ProbeResult result = probe.Go();
    if (probe.UsageErrorHappened()) {
        err << "quillon-probe: " << result.error << "\n";
        return UsageErrorStatus;
    }
    if (!result.error.empty())
        err << "quillon-probe: " << result.error << "\n";
    const QJsonObject json = ProbeResultJson(result);
    if (options.json)
        out << JsonLine(json) << std::endl;
    else
        out << ProbeSummaryText(result) << std::flush;
    int status = result.error.empty() ? 0 : 1;
    if (!options.report.empty()) {
        QFile report(QString::fromStdString(options.report));
        const std::string page = RenderProbeReport(result);
        if (!report.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            report.write(page.data(), static_cast<qint64>(page.size())) != static_cast<qint64>(page.size()) ||
            !report.flush()) {
            err << "quillon-probe: --report: cannot write '" << options.report
                << "': " << report.errorString().toStdString() << "\n";
            status = 1;
        }
    }
    if (result.error.empty() && result.maxSustainableMps <= 0 && result.limitedBy == "sender") {
        err << "quillon-probe: no rate was reached: try a lower --start-rate\n";
        status = 1;
    }
    if (result.soak && result.soak->verdict != "holds") {
        err << "quillon-probe: the soak " << result.soak->verdict << ": " << result.soak->reason << "\n";
        status = 1;
    }
    if (options.requireMps && result.maxSustainableMps < *options.requireMps) {
        err << "quillon-probe: --require-mps " << Grouped(std::llround(*options.requireMps))
            << " not met: the collector sustains " << Grouped(std::llround(result.maxSustainableMps)) << " MPS\n";
        status = 1;
    }
    return status;
}
} // namespace

int RunProbeCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool errIsTerminal)
{
    ProbeParseResult parsed = ParseProbeCommandLine(args);
    parsed.options.progress = parsed.options.progress || errIsTerminal;
    switch (parsed.action) {
    case ProbeParseResult::Action::Help:
        out << ProbeUsageText();
        return 0;
    case ProbeParseResult::Action::Version:
        out << "quillon-probe " << QuillonVersion::VersionText << "\n";
        return 0;
    case ProbeParseResult::Action::UsageError:
        err << "quillon-probe: " << parsed.error << "\n";
        return UsageErrorStatus;
    case ProbeParseResult::Action::Cleanup: {
        const LeftoversEnded ended = EndLeftovers(parsed.options.cleanup);
        if (!ended.status) {
            err << "quillon-probe: " << ended.status.Why() << "\n";
            return ended.notARecord ? UsageErrorStatus : 1;
        }
        err << "quillon-probe: " << ended.what << "\n";
        return 0;
    }
    case ProbeParseResult::Action::Run:
        break;
    }
    for (const std::string &warning : parsed.warnings)
        err << "quillon-probe: " << warning << "\n";
    const ProbeOptions &options = parsed.options;
    const MetricsStart metrics = StartMetrics(options.metrics, "quillon-probe", err, false);
    if (!metrics.status) {
        err << "quillon-probe: " << metrics.status.Why() << "\n";
        return UsageErrorStatus;
    }
    const int status = ProbeAndReport(options, out, err, metrics.endpoint.get());
    if (metrics.endpoint)
        metrics.endpoint->Linger(options.metrics.lingerSeconds);
    return status;
}
