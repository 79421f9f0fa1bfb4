#include "cli/probe/ProbeRun.h"

#include "cli/common/JsonText.h"
#include "cli/common/ProgressLine.h"
#include "cli/common/StatsFile.h"
#include "cli/common/StopSignals.h"
#include "cli/probe/LocalPort.h"
#include "cli/probe/ProbeReceiver.h"
#include "cli/probe/ProbeReport.h"
#include "cli/probe/ProcessWatch.h"
#include "cli/probe/RateSearch.h"
#include "cli/probe/WatchedCommand.h"
#include "cli/send/RunReport.h"
#include "cli/send/RunSender.h"
#include "common/Version.h"
#include "engine/Stamp.h"

#include <QDateTime>
#include <QFile>

#include <chrono>
#include <cmath>
#include <random>
#include <sstream>
#include <thread>

namespace {
constexpr int UsageErrorStatus = 2;
// A step reached its rate when it sent this share of what it was asked,
// less what the start of a run (a connection, a busy machine) may cost.
constexpr double SentShareReached = 0.97;
constexpr double StartSeconds = 0.1;

std::string Fixed(double value, int decimals)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(decimals);
    text << value;
    return text.str();
}

std::string Megabytes(std::int64_t bytes)
{
    return Fixed(static_cast<double>(bytes) / (1024.0 * 1024.0), bytes < 10 * 1024 * 1024 ? 1 : 0) + " MB";
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
    s.maxP99Ms = o.maxP99Ms;
    s.precision = o.precision;
    s.requireMps = o.requireMps;
    s.watchPids = o.watchPids;
    s.watchCommand = o.watchCommand;
    return s;
}

class Probe {
public:
    Probe(const ProbeOptions &options, std::ostream &err) : m_options(options), m_err(err)
    {
        m_result.settings = SettingsOf(options);
        std::random_device random;
        m_runBase = RunIdFromNumber((std::uint64_t{random()} << 32) | random());
    }

    bool UsageErrorHappened() const { return m_usageError; }

    ProbeResult Go()
    {
        std::string error;
        std::vector<int> pids = m_options.watchPids;
        for (const int pid : pids)
            if (!m_reader.Read(pid))
                return Failed("--watch-pid " + std::to_string(pid) + ": no such process");
        if (!m_options.statsFile.empty() && !m_stats.Open(m_options.statsFile))
            return Failed(m_stats.Error());
        if (!m_receiver.Start(m_options, error))
            return Failed(error);
        m_err << "quillon-probe: receiving on " << m_receiver.Where() << std::endl;
        if (!m_options.watchCommand.empty()) {
            if (!m_command.Start(m_options.watchCommand, error))
                return Failed(error);
            pids.push_back(m_command.Pid());
            m_result.settings.watchPids = pids;
            m_err << "quillon-probe: started '" << m_options.watchCommand << "' as process " << m_command.Pid()
                  << std::endl;
            if (!AwaitCollector())
                return m_result;
        }
        ProcessWatch watch(pids, m_reader, m_clock);
        watch.Start();
        m_watch = &watch;

        RateSearch search({m_options.startRate, m_options.maxRate, m_options.precision});
        while (const auto rate = search.NextRate()) {
            if (StopRequested()) {
                m_result.error = "stopped by a signal";
                break;
            }
            const std::optional<StepVerdict> verdict = Step(*rate);
            if (!verdict)
                break;
            search.Record(*rate, *verdict);
        }
        watch.Stop();
        if (m_command.Running()) {
            const std::string ending = m_command.Stop();
            m_err << "quillon-probe: stopped '" << m_options.watchCommand << "': " << ending << std::endl;
        }
        m_result.watchSamples = watch.Samples();
        m_watch = nullptr;
        m_result.maxSustainableMps = search.MaxSustainable();
        m_result.limitedBy = search.LimitedBy();
        if (m_stats.Failed() && m_result.error.empty())
            m_result.error = m_stats.Error();
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
    bool AwaitCollector()
    {
        const std::string &target = m_options.send.target;
        const std::string &transport = m_options.transport;
        if ((target != "127.0.0.1" && target != "::1" && target != "localhost") ||
            (transport != "udp" && transport != "tcp" && transport != "tls"))
            return true;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(m_options.send.connectTimeout);
        while (!LocalPortBound(m_options.send.port, m_options.send.tcp)) {
            if (!m_command.Running()) {
                m_result.error = "'" + m_options.watchCommand + "' ended before the probe began: " + m_command.Stop();
                return false;
            }
            if (StopRequested() || std::chrono::steady_clock::now() >= deadline) {
                m_result.error = "'" + m_options.watchCommand + "' did not bind port " +
                                 std::to_string(m_options.send.port) + " within --connect-timeout";
                m_command.Stop();
                return false;
            }
            // /proc/net tells no one when a port is bound, so it is read again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    std::optional<StepVerdict> Step(double rate)
    {
        ProbeStep step;
        step.number = static_cast<int>(m_result.steps.size()) + 1;
        step.rate = rate;
        step.runId = StepRunId(m_runBase, step.number);
        Options send = m_options.send;
        send.pace = Pace::Rate;
        send.shape = LoadShape::Constant(rate);
        send.duration = m_options.stepSeconds;
        send.count = 0;
        send.stamp = true;
        send.runId = step.runId;
        send.quiet = true;
        send.json = false;
        send.statsFile.clear();
        std::ostringstream sendOut;
        std::ostringstream sendErr;
        step.startSeconds = m_clock.Seconds();
        const IntakeCounts before = m_receiver.Counts();
        const RunSummary sent = RunSender(send, sendOut, sendErr);
        m_receiver.WaitForQuiet(m_options.drainSeconds);
        step.endSeconds = m_clock.Seconds();
        const DeliveryFigures figures = m_receiver.Figures(step.runId);

        step.sent = sent.sent;
        step.received = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.received, CountCap));
        step.lost = std::max<std::int64_t>(0, step.sent - step.received);
        step.duplicates = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.duplicates, CountCap));
        step.reordered = static_cast<std::int64_t>(std::min<std::uint64_t>(figures.reordered, CountCap));
        if (figures.latency.samples > 0)
            step.latency = Milliseconds(figures.latency);
        if (m_watch)
            step.processes = m_watch->Between(step.startSeconds, step.endSeconds);

        StepOutcome outcome;
        outcome.sent = step.sent;
        outcome.lost = step.lost;
        if (step.latency)
            outcome.p99Ms = step.latency->p99;
        // Over the step as a whole: a short step has too few full seconds for the sender's own figure.
        outcome.senderShort =
            static_cast<double>(sent.sent) < rate * (SentShareReached * m_options.stepSeconds - StartSeconds);
        outcome.senderBound = sent.spread.senderBoundSeconds > 0;
        outcome.stream = m_options.send.tcp;
        const StepVerdict verdict = JudgeStep(outcome, {m_options.maxLoss, m_options.maxP99Ms});
        step.held = verdict == StepVerdict::Holds;
        static const char *const names[] = {"holds", "loss", "latency", "sender"};
        step.verdict = names[static_cast<int>(verdict)];
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
            m_err << sendErr.str();
        if (step.sent == 0 && sent.exitStatus != 0) {
            m_result.steps.push_back(step);
            m_result.error = "step " + std::to_string(step.number) + " sent nothing" +
                             (sent.error.empty() ? std::string() : ": " + sent.error);
            return std::nullopt;
        }
        if (m_stats.IsOpen()) {
            QJsonObject record = ProbeStepJson(step);
            record.insert(QStringLiteral("time"), static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000);
            m_stats.Write(record);
        }
        m_result.steps.push_back(step);
        if (StopRequested() && sent.stoppedBy == "signal") {
            m_result.error = "stopped by a signal";
            return std::nullopt;
        }
        return verdict;
    }

    const ProbeOptions &m_options;
    std::ostream &m_err;
    ProbeResult m_result;
    std::string m_runBase;
    ProbeClock m_clock;
    ProcReader m_reader;
    ProbeReceiver m_receiver;
    WatchedCommand m_command;
    StatsFile m_stats;
    ProcessWatch *m_watch = nullptr;
    bool m_usageError = false;
};

} // namespace

std::string StepLine(const ProbeStep &step, double stepSeconds)
{
    std::string line = "step " + std::to_string(step.number) + ": " + Grouped(std::llround(step.rate)) + " MPS for " +
                       Fixed(stepSeconds, stepSeconds == std::floor(stepSeconds) ? 0 : 1) + " s ... ";
    if (step.verdict == "holds")
        line += "holds";
    else if (step.verdict == "sender")
        line += "the sender fell short (" + Grouped(step.sent) + " sent)";
    else
        line += "fails by " + step.verdict;
    line += ": " + Grouped(step.lost) + " lost";
    if (step.duplicates > 0)
        line += ", " + Grouped(step.duplicates) + " duplicated";
    if (step.latency)
        line += ", p99 " + Fixed(step.latency->p99, 1) + " ms";
    for (const ProcessFigures &process : step.processes)
        line += ", " + process.name + " " + Fixed(process.cpuPercent, 0) + "% CPU, " + Megabytes(process.rssBytes);
    return line;
}

std::string ProbeSummaryText(const ProbeResult &result)
{
    std::string text;
    const std::string &by = result.limitedBy;
    if (result.steps.empty()) {
        text = "No step ran";
    } else if (result.maxSustainableMps <= 0 && by.empty()) {
        text = "The probe ended before any rate held";
    } else if (result.maxSustainableMps <= 0) {
        text = "The collector sustained none of the rates tried (limited by " + by + ")";
    } else {
        text = "The collector sustains " + Grouped(std::llround(result.maxSustainableMps)) + " MPS";
        if (by == "sender")
            text += "; the sender could go no faster, so the collector was not the limit";
        else if (by == "max-rate")
            text += ", the highest rate allowed (--max-rate)";
        else if (!by.empty())
            text += "; above it, it fails by " + by;
    }
    if (!result.error.empty())
        text += " (the probe could not finish)";
    text += ".\n";
    for (const ProbeStep &step : result.steps)
        text += "  " + StepLine(step, result.settings.stepSeconds) + "\n";
    return text;
}

ProbeResult RunProbe(const ProbeOptions &options, std::ostream &err)
{
    Probe probe(options, err);
    return probe.Go();
}

int RunProbeCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    const ProbeParseResult parsed = ParseProbeCommandLine(args);
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
    case ProbeParseResult::Action::Run:
        break;
    }
    for (const std::string &warning : parsed.warnings)
        err << "quillon-probe: " << warning << "\n";
    const ProbeOptions &options = parsed.options;
    Probe probe(options, err);
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
        const std::string page = RenderProbeReport(json);
        if (!report.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            report.write(page.data(), static_cast<qint64>(page.size())) != static_cast<qint64>(page.size()) ||
            !report.flush()) {
            err << "quillon-probe: --report: cannot write '" << options.report
                << "': " << report.errorString().toStdString() << "\n";
            status = 1;
        }
    }
    if (options.requireMps && result.maxSustainableMps < *options.requireMps) {
        err << "quillon-probe: --require-mps " << Grouped(std::llround(*options.requireMps))
            << " not met: the collector sustains " << Grouped(std::llround(result.maxSustainableMps)) << " MPS\n";
        status = 1;
    }
    return status;
}
