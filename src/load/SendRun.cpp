#include "load/SendRun.h"

#include "load/LoadPlan.h"
#include "load/SendThreads.h"
#include "load/SendWorker.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace {
using SteadyClock = std::chrono::steady_clock;

void Add(SendCounters &sum, const SendCounters &c)
{
    sum.sent += c.sent;
    sum.failed += c.failed;
    sum.unknownFate += c.unknownFate;
    sum.refused += c.refused;
    sum.bytes += c.bytes;
    sum.opened += c.opened;
    sum.connections += c.connections;
    sum.blockedSeconds += c.blockedSeconds;
    sum.queuedBytes += c.queuedBytes;
    if (c.target)
        sum.target = sum.target.value_or(0) + *c.target;
    sum.threadCpuSeconds.insert(sum.threadCpuSeconds.end(), c.threadCpuSeconds.begin(), c.threadCpuSeconds.end());
}

// Runs the plan's workers (one to each thread) and adds up what they
// counted: each second into the sinks, at the end into the summary.
class RunCoordinator {
public:
    RunCoordinator(const Options &options, std::shared_ptr<const TlsClientContext> tls,
                   const std::vector<SendSink *> &sinks)
        : m_plan(MakeLoadPlan(options)), m_tls(std::move(tls)), m_sinks(sinks)
    {}

    RunSummary Go()
    {
        for (SendSink *sink : m_sinks)
            sink->Start();
        RunWorkers();
        Conclude();
        return m_summary;
    }

private:
    // The workers share the run id and the TLS set-up.
    void RunWorkers()
    {
        const std::vector<ThreadShare> &shares = m_plan.shares;
        std::vector<RunSummary> summaries(shares.size());
        m_workers = std::vector<Worker>(shares.size());
        // Lines from several workers each go out whole.
        const SendChannel::Say say = [this](const std::string &line) {
            const std::lock_guard lock(m_sayMutex);
            for (SendSink *sink : m_sinks)
                sink->Say(line);
        };
        const auto work = [&](int i) {
            const auto index = static_cast<std::size_t>(i);
            const WorkerLane lane{m_runStart, m_tls, &m_workers[index].marks};
            summaries[index] = RunWorker(m_plan, shares[index], lane, say);
        };
        RunOnThreads(static_cast<int>(shares.size()), work, [this] { MergeSeconds(); });
        MergeSeconds();
        m_summary.sent = 0;
        for (const RunSummary &summary : summaries)
            AddThreadSummary(m_summary, summary);
        m_summary.threads = m_plan.options.threads;
        RecordLast();
    }

    // A second is added up once every worker passed its mark or ended; one
    // that ended counts with what it did in all.
    void MergeSeconds()
    {
        for (;;) {
            bool anyMark = false;
            for (Worker &worker : m_workers) {
                if (!worker.next)
                    worker.next = worker.marks.Take();
                if (!worker.next && !worker.marks.Over())
                    return;
                anyMark = anyMark || worker.next;
            }
            if (!anyMark)
                return;
            SendCounters sum;
            double elapsed = 0;
            double epoch = 0;
            for (Worker &worker : m_workers) {
                if (worker.next) {
                    worker.latest = worker.next->counters;
                    elapsed = std::max(elapsed, worker.next->elapsed);
                    epoch = std::max(epoch, worker.next->epoch);
                    worker.next.reset();
                } else if (const std::optional<WorkerMark> last = worker.marks.Last()) {
                    worker.latest = last->counters;
                }
                Add(sum, worker.latest);
            }
            Tell({elapsed, sum, m_seconds.Record(elapsed, epoch, sum), false});
        }
    }

    // The run's last record, up to the end of the last worker to end; none
    // when not one started sending.
    void RecordLast()
    {
        SendCounters sum;
        double elapsed = 0;
        double epoch = 0;
        bool any = false;
        for (Worker &worker : m_workers) {
            const std::optional<WorkerMark> last = worker.marks.Last();
            if (last) {
                any = true;
                elapsed = std::max(elapsed, last->elapsed);
                epoch = std::max(epoch, last->epoch);
            }
            Add(sum, last ? last->counters : worker.latest);
        }
        if (!any)
            return;
        Tell({elapsed, sum, m_seconds.Record(elapsed, epoch, sum, false), true});
        m_summary.spread = m_seconds.Spread();
    }

    void Tell(const SendTick &tick)
    {
        for (SendSink *sink : m_sinks)
            sink->Tick(tick);
    }

    std::string TargetText() const
    {
        std::string text;
        for (const Destination &destination : m_plan.destinations)
            text += (text.empty() ? "" : ", ") + destination.Text();
        return text;
    }

    void Conclude()
    {
        for (const SendSink *sink : m_sinks)
            if (const std::string failure = sink->Failure(); !failure.empty() && m_summary.error.empty())
                m_summary.error = failure;
        // A session that came up and took nothing is no run either.
        if (m_summary.exitStatus == 0 && m_summary.error.empty() && IsStream(m_plan.options.transport) &&
            m_summary.sent == 0)
            m_summary.error = "nothing was sent to " + TargetText();
        if (m_summary.exitStatus == 0 && (!m_summary.error.empty() || m_summary.failed > 0))
            m_summary.exitStatus = 1;
    }

    struct Worker {
        WorkerMarks marks;
        // Its mark of the second being added up, and its counters at the
        // latest one added.
        std::optional<WorkerMark> next;
        SendCounters latest;
    };

    const LoadPlan m_plan;
    std::shared_ptr<const TlsClientContext> m_tls;
    const std::vector<SendSink *> &m_sinks;
    std::mutex m_sayMutex;
    // --duration counts from here, connecting included.
    SteadyClock::time_point m_runStart = SteadyClock::now();
    std::vector<Worker> m_workers;
    RunSummary m_summary;
    SendSeconds m_seconds;
};
} // namespace

RunSummary RunLoad(const Options &options, std::shared_ptr<const TlsClientContext> tls,
                   const std::vector<SendSink *> &sinks)
{
    return RunCoordinator(options, std::move(tls), sinks).Go();
}
