#include "cli/recv/RecvRun.h"

#include "cli/recv/ListenerSetup.h"
#include "cli/recv/SpreadMergeCommand.h"
#include "common/InputFile.h"
#include "common/MemoryBudget.h"
#include "common/StopFlag.h"
#include "common/TextHelpers.h"
#include "common/Version.h"
#include "metrics/ProgramMetrics.h"
#include "proof/MessageOutput.h"
#include "report/RecvSeconds.h"
#include "report/StatsFile.h"
#include "transport/TransportKind.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using SteadyClock = std::chrono::steady_clock;
constexpr int UsageErrorStatus = 2;
// Stop signals and deadlines are looked at least this often, and what
// arrived is handed to the output and stats files as often.
constexpr int MaxWaitMs = 100;
constexpr std::size_t FileReadSize = 1 << 20;
constexpr int DrainTurns = 64;
constexpr std::size_t MaxLine = 1 << 20;
// Held back from the start and let go when memory runs out, so the run
// still has room for its summary.
constexpr std::size_t SummaryReserve = std::size_t{16} << 20;

double SecondsBetween(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

class LineIntake final : public FrameHandler {
public:
    explicit LineIntake(MessageIntake &intake) : m_intake(intake) {}
    void OnFrame(std::string_view line) override { m_intake.Take(line, -1); }

private:
    MessageIntake &m_intake;
};

DeliveryLedger::Limits LedgerLimits(const RecvOptions &options)
{
    DeliveryLedger::Limits limits;
    limits.maxGap = options.maxGap;
    limits.maxSeq = options.expect;
    limits.maxStreams = options.maxStreams;
    if (const auto left = AddressSpaceLeft())
        limits.maxMemory = *left / MemoryShare;
    return limits;
}

// The word of the transport listened on, as the metrics' label has it.
std::string_view ListenTransport(const RecvOptions &options)
{
    return TransportName(options.transport);
}

class ReceiverRun {
public:
    ReceiverRun(const RecvOptions &options, std::ostream &out, std::ostream &err, MetricsSink *metrics,
                std::vector<std::string> warnings)
        : m_options(options), m_out(out), m_err(err), m_warnings(std::move(warnings)),
          m_reserve(std::make_unique_for_overwrite<char[]>(SummaryReserve)), m_ledger(LedgerLimits(options)),
          m_intake(m_ledger, &m_output)
    {
        m_summary.expect = options.expect;
        if (options.stampKey)
            m_intake.RequireKey(*options.stampKey);
        if (!options.runId.empty())
            m_intake.OnlyRun(options.runId);
        // One receiver counts every run and shard that reaches it.
        if (metrics)
            m_sinks.push_back(std::make_unique<RecvMetricsFeed>(
                *metrics, MetricLabels{"", "", std::string(ListenTransport(options))}, m_ledger));
        if (options.progress && !options.quiet)
            m_sinks.push_back(std::make_unique<RecvProgress>(err));
    }

    RecvSummary Go()
    {
        if (!m_options.output.empty() && !m_output.Open(m_options.output, m_options.raw)) {
            UsageError("--output: " + m_output.Outcome().Why());
        } else if (!m_options.statsFile.empty() && !m_statsFile.Open(m_options.statsFile)) {
            UsageError(m_statsFile.Outcome().Why());
        } else if (!m_options.checkFile.empty()) {
            TellWarnings();
            try {
                CheckFile();
            } catch (const std::bad_alloc &) {
                OutOfMemory();
            }
        } else {
            if (m_statsFile.IsOpen())
                m_sinks.push_back(std::make_unique<RecvSeconds>(m_statsFile));
            Listen();
        }
        if (!m_output.Flush() && m_summary.error.empty())
            m_summary.error = "--output: " + m_output.Outcome().Why();
        if (!m_statsFile.Outcome() && m_summary.error.empty())
            m_summary.error = m_statsFile.Outcome().Why();
        m_summary.intake = m_intake.Counts();
        m_summary.ledger = m_ledger.Report(m_options.expect);
        if (!m_options.checkFile.empty() && m_options.expect > 0 && m_summary.intake.stamped > m_options.expect)
            m_summary.beyondExpect = m_summary.intake.stamped - m_options.expect;
        if (m_summary.error.empty() && m_summary.exitStatus == 0)
            m_summary.error = NoStampText();
        // An empty run reads as a pass when the daemon never started.
        if (m_summary.error.empty() && m_summary.exitStatus == 0 && m_summary.intake.messages == 0 &&
            m_options.expect == 0 && !m_options.nothingExpected)
            m_summary.error = "nothing arrived (--expect 0 accepts that)";
        if (m_summary.exitStatus == 0)
            m_summary.exitStatus = ExitStatus();
        for (const auto &sink : m_sinks)
            sink->Ended(m_summary);
        Report();
        return m_summary;
    }

private:
    // After the listening line, which scripts read first.
    void TellWarnings()
    {
        for (const std::string &warning : m_warnings)
            m_err << "quillon-recv: " << warning << "\n";
        m_err.flush();
        m_warnings.clear();
    }

    void UsageError(const std::string &text)
    {
        m_summary.error = text;
        m_summary.stoppedBy = "error";
        m_summary.exitStatus = UsageErrorStatus;
    }

    // Memory ran out: the run ends where it is and reports what it took.
    void OutOfMemory()
    {
        m_reserve.reset();
        m_summary.error = "out of memory after " + MessagesText(static_cast<std::int64_t>(m_intake.Counts().messages)) +
                          ": the run ended there";
        m_summary.stoppedBy = "error";
    }

    int ExitStatus() const
    {
        const DeliveryFigures &totals = m_summary.ledger.totals;
        // Stamps never checked and messages thrown away for their size are
        // not a proof of delivery either.
        if (!m_summary.error.empty() || totals.lost > m_options.allowLoss || totals.suspectJumps > 0 ||
            m_summary.intake.forged > 0 || (totals.duplicates > 0 && !m_options.allowDuplicates) ||
            m_summary.ledger.untracked > 0 || m_summary.loop.frames.oversize > 0)
            return 1;
        return 0;
    }

    // Messages came but nothing could be checked: a proof of nothing.
    std::string NoStampText() const
    {
        const IntakeCounts &intake = m_summary.intake;
        if (intake.messages == 0 || intake.stamped > 0 || intake.forged > 0 ||
            (intake.malformedStamps == 0 && m_options.expect == 0))
            return {};
        std::string text =
            MessagesText(static_cast<std::int64_t>(intake.messages)) + " arrived but no stamp could be read";
        text += intake.malformedStamps > 0 ? " (" + std::to_string(intake.malformedStamps) + " malformed)"
                                           : " (none carried one)";
        return text + ": the sender must stamp them (quillon-send --stamp) and a daemon's template must keep the stamp "
                      "(RFC 5424 structured data is dropped by the traditional file formats; RFC 3164 tokens survive)";
    }

    void CheckFile()
    {
        InputFile file;
        if (const Status opened = file.Open(m_options.checkFile); !opened) {
            UsageError("--check-file: " + opened.Why());
            return;
        }
        m_summary.source = "file " + m_options.checkFile;
        const auto start = SteadyClock::now();
        FrameSplitter lines(Framing::Lf, MaxLine);
        LineIntake intake(m_intake);
        std::string buffer(FileReadSize, '\0');
        for (;;) {
            const std::optional<std::size_t> got = file.Read(buffer.data(), buffer.size());
            if (!got && file.Stopped()) {
                m_summary.stoppedBy = "signal";
                break;
            }
            if (!got) {
                UsageError("--check-file: " + file.Outcome().Why());
                break;
            }
            if (*got == 0) {
                m_summary.stoppedBy = "end of file";
                break;
            }
            lines.Feed(std::string_view(buffer.data(), *got), intake);
        }
        lines.Finish(intake);
        m_summary.loop.frames = lines.Counts();
        m_summary.elapsedSeconds = SecondsBetween(start, SteadyClock::now());
    }

    void Listen()
    {
        Result<ListenerSetup> setup = SetUpListener(m_options);
        if (!setup) {
            UsageError(setup.Why());
            return;
        }
        if (!setup->connectionsCapped.empty())
            m_warnings.push_back(setup->connectionsCapped);
        const SystemClock clock;
        ReceiveLoop loop(setup->settings, m_intake, clock, std::move(setup->factory));
        Serve(loop);
        if (m_options.listenProxy)
            m_summary.proxySources = loop.Proxies().Rows();
        if (!IsRelp(m_options.transport))
            return;
        m_summary.acknowledged = m_summary.loop.acknowledged;
        m_summary.acknowledgedMeans =
            std::string("its answer went to the system for the client after the message was ") +
            (m_options.output.empty() ? "checked (no --output)" : "written to --output");
    }

    // Runs the source until a stop condition.
    void Serve(ReceiveSource &source)
    {
        if (const Status opened = source.Open(); !opened) {
            UsageError(opened.Why());
            return;
        }
        m_summary.source = source.Where();
        // Printed first: scripts read the port from it. With --json standard
        // output holds the summary alone, and with --quiet too a log that
        // merges both streams (kubectl logs) is JSON alone.
        if (!m_options.json || !m_options.quiet)
            (m_options.json ? m_err : m_out) << "listening on " << m_summary.source << std::endl;
        TellWarnings();
        if (!m_sinks.empty()) {
            const ReceiveTally tally = TallyNow(m_intake, source);
            for (const auto &sink : m_sinks)
                sink->Started(tally);
        }
        const auto start = SteadyClock::now();
        // No allocation that fails on the receive path ends the run without its summary.
        try {
            Watch(source, start);
        } catch (const std::bad_alloc &) {
            OutOfMemory();
        }
        m_summary.loop = source.Counts();
        m_summary.elapsedSeconds = SecondsBetween(start, SteadyClock::now());
    }

    // Takes what arrives until a stop condition, then what the system
    // still holds, and ends the connections.
    void Watch(ReceiveSource &source, SteadyClock::time_point start)
    {
        auto lastActivity = start;
        std::uint64_t seenMessages = 0;
        double nextProgress = 1;
        double nextFlush = MaxWaitMs / 1000.0;
        SteadyClock::time_point first{};
        for (;;) {
            const auto now = SteadyClock::now();
            const double elapsed = SecondsBetween(start, now);
            const std::uint64_t messages = m_intake.Counts().messages;
            if (messages != seenMessages) {
                if (seenMessages == 0)
                    first = now;
                seenMessages = messages;
                lastActivity = now;
            }
            if (elapsed >= nextProgress) {
                Feed(source,
                     [elapsed](RecvSink &sink, const ReceiveTally &tally) { sink.Second(elapsed, tally, true); });
                nextProgress = std::max(nextProgress + 1, std::floor(elapsed) + 1);
            }
            // A receiver killed without warning still leaves what arrived
            // up to a tenth of a second before. A failure stays in Outcome(),
            // which the run checks at the end.
            if (elapsed >= nextFlush || StopRequested()) {
                m_output.Flush();
                Feed(source, [elapsed](RecvSink &sink, const ReceiveTally &tally) { sink.Between(elapsed, tally); });
                nextFlush = elapsed + MaxWaitMs / 1000.0;
            }
            if (StopRequested()) {
                m_summary.stoppedBy = "signal";
                break;
            }
            if (m_options.expect > 0 && m_ledger.Received() >= m_options.expect) {
                m_summary.stoppedBy = "expect";
                break;
            }
            if (m_options.duration > 0 && elapsed >= m_options.duration) {
                m_summary.stoppedBy = "duration";
                break;
            }
            const double quiet = SecondsBetween(lastActivity, now);
            if (m_options.idle > 0 && quiet >= m_options.idle) {
                m_summary.stoppedBy = "idle";
                break;
            }
            if (!m_output.Outcome()) {
                m_summary.stoppedBy = "error";
                break;
            }
            double wait = std::min({nextProgress - elapsed, nextFlush - elapsed, MaxWaitMs / 1000.0});
            if (m_options.duration > 0)
                wait = std::min(wait, m_options.duration - elapsed);
            if (m_options.idle > 0)
                wait = std::min(wait, m_options.idle - quiet);
            source.RunOnce(std::max(0, static_cast<int>(std::ceil(wait * 1000))));
        }
        // What the system already holds arrived before the end: take it.
        for (int turn = 0; turn < DrainTurns && m_summary.stoppedBy != "expect"; ++turn) {
            const std::uint64_t before = m_intake.Counts().messages;
            source.RunOnce(0);
            if (m_intake.Counts().messages == before)
                break;
            lastActivity = SteadyClock::now();
            if (seenMessages == 0)
                first = lastActivity;
            seenMessages = m_intake.Counts().messages;
        }
        const double elapsed = SecondsBetween(start, SteadyClock::now());
        Feed(source, [elapsed](RecvSink &sink, const ReceiveTally &tally) { sink.Second(elapsed, tally, false); });
        source.Finish();
        if (seenMessages > 0)
            m_summary.activeSeconds = SecondsBetween(first, lastActivity);
    }

    // The tally is read only when some sink takes it: a listener's counts
    // walk every connection.
    template <typename Call> void Feed(const ReceiveSource &source, Call call)
    {
        if (m_sinks.empty())
            return;
        const ReceiveTally tally = TallyNow(m_intake, source);
        for (const auto &sink : m_sinks)
            call(*sink, tally);
    }

    void Report()
    {
        TellWarnings();
        if (!m_summary.error.empty())
            m_err << "quillon-recv: " << m_summary.error << std::endl;
        if (m_options.json) {
            m_out << RecvSummaryJson(m_summary) << std::endl;
        } else if (!m_options.quiet && m_summary.exitStatus != UsageErrorStatus) {
            m_out << RecvSummaryLine(m_summary) << "\n";
            for (const std::string &line : RecvDetailLines(m_summary))
                m_out << line << "\n";
            m_out.flush();
        }
    }

    RecvOptions m_options;
    std::ostream &m_out;
    std::ostream &m_err;
    std::vector<std::string> m_warnings;
    std::unique_ptr<char[]> m_reserve;
    DeliveryLedger m_ledger;
    MessageOutput m_output;
    MessageIntake m_intake;
    StatsFile m_statsFile;
    std::vector<std::unique_ptr<RecvSink>> m_sinks;
    RecvSummary m_summary;
};
} // namespace

RecvSummary RunReceiver(const RecvOptions &options, std::ostream &out, std::ostream &err, MetricsSink *metrics,
                        const std::vector<std::string> &warnings)
{
    ReceiverRun run(options, out, err, metrics, warnings);
    return run.Go();
}

int RunRecvCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, bool errIsTerminal)
{
    RecvParseResult parsed = ParseRecvCommandLine(args);
    parsed.options.progress = parsed.options.progress || errIsTerminal;
    switch (parsed.action) {
    case RecvParseResult::Action::Help:
        out << RecvUsageText();
        return 0;
    case RecvParseResult::Action::Version:
        out << "quillon-recv " << QuillonVersion::VersionText << "\n";
        return 0;
    case RecvParseResult::Action::UsageError:
        err << "quillon-recv: " << parsed.error << "\n";
        return UsageErrorStatus;
    case RecvParseResult::Action::Run:
        break;
    }
    if (!parsed.options.mergeFiles.empty())
        return RunMergeCommand(parsed.options.mergeFiles, parsed.options.json, out, err);
    const MetricsStart metrics = StartMetrics(parsed.options.metrics, "quillon-recv", err, parsed.options.quiet);
    if (!metrics.status) {
        err << "quillon-recv: " << metrics.status.Why() << "\n";
        return UsageErrorStatus;
    }
    const int status = RunReceiver(parsed.options, out, err, metrics.endpoint.get(), parsed.warnings).exitStatus;
    if (metrics.endpoint)
        metrics.endpoint->Linger(parsed.options.metrics.lingerSeconds);
    return status;
}
