#include "load/SendWorker.h"

#include "common/SettingsRules.h"
#include "common/StopFlag.h"
#include "load/PaceSchedule.h"
#include "load/PacketStream.h"
#include "load/ThreadChannel.h"
#include "load/ThreadCpuClock.h"
#include "transport/SocketEndpoint.h"
#include "transport/TlsContext.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace {
using SteadyClock = std::chrono::steady_clock;

// Large enough that the system calls, not the loop, set the pace; small
// enough that a stop or a second's mark is never long in coming.
constexpr std::size_t BatchLimit = 512;
constexpr auto EventInterval = std::chrono::milliseconds(5);
// Waits, a full socket's included, are cut into slices so a stop signal or
// a second's mark is seen promptly.
constexpr double WaitSliceSeconds = 0.05;
// How long past --duration the messages due before its end may take to go.
constexpr double DurationGraceSeconds = 1.0;

double EpochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class SendWorker {
public:
    SendWorker(const LoadPlan &plan, const ThreadShare &share, const WorkerLane &lane, const SendChannel::Say &say)
        : m_plan(plan), m_share(share), m_lane(lane),
          m_channel(ThreadChannel(plan, share, lane.tls, lane.runStart, say))
    {}

    RunSummary Run()
    {
        if (Open()) {
            Loop();
            Finish();
        }
        if (const std::string why = m_channel->Collect(m_summary); !why.empty() && m_summary.error.empty())
            Failure(why, "");
        m_channel->Close(m_drainEnd.value_or(SteadyClock::now() + MillisecondsOf(m_plan.options.drainTimeout)));
        m_lane.marks->End(m_last);
        return m_summary;
    }

private:
    // Since sending started: the clock of the pace and the marks.
    double Elapsed() const { return std::chrono::duration<double>(SteadyClock::now() - m_start).count(); }
    // Seconds left of --duration, which counts from the run's start;
    // infinite without one.
    double DurationLeft() const
    {
        if (m_plan.options.duration <= 0)
            return LoadShape::Never;
        return m_plan.options.duration - std::chrono::duration<double>(SteadyClock::now() - m_lane.runStart).count();
    }
    std::int64_t Attempted() const { return m_summary.sent + m_summary.failed + m_summary.skipped; }

    // stoppedBy empty: what ended the run stays as it was.
    void Failure(const std::string &text, const char *stoppedBy)
    {
        m_summary.error = text;
        if (*stoppedBy != '\0' || m_summary.stoppedBy.empty())
            m_summary.stoppedBy = *stoppedBy != '\0' ? stoppedBy : "error";
        m_summary.exitStatus = 1;
    }

    bool Open()
    {
        const auto deadline = m_plan.options.duration <= 0
                                  ? SteadyClock::time_point::max()
                                  : m_lane.runStart + std::chrono::duration_cast<SteadyClock::duration>(
                                                          std::chrono::duration<double>(m_plan.options.duration));
        switch (m_channel->Open(deadline)) {
        case SendChannel::Opened::Ready:
            return true;
        case SendChannel::Opened::Failed:
            Failure(m_channel->Failure(), "connection");
            return false;
        case SendChannel::Opened::Stopped:
            m_summary.stoppedBy = "signal";
            return false;
        case SendChannel::Opened::OutOfTime:
            m_summary.stoppedBy = "duration";
            return false;
        }
        return false;
    }

    void Loop()
    {
        const SocketEndpoint local(SocketEndpoint::UdpProtocol);
        PacketStream stream(m_plan, m_share, local.LocalHostName(), SubnetPrefixOf(local.LocalIP()));
        m_channel->Begin(stream);
        SendAll(stream);
        // Due while no session was up, and never sent.
        if (!m_channel->Ready())
            FailDue();
        m_channel->Abandon(stream);
        if (!m_plan.options.stamp)
            return;
        m_summary.runId = m_plan.options.runId;
        m_channel->Stamps(m_summary, stream);
    }

    void SendAll(PacketStream &stream)
    {
        PaceSchedule &schedule = m_schedule.emplace(m_plan, m_share);
        m_start = SteadyClock::now();
        m_startSchedule = ThisThreadSchedule();
        for (;;) {
            if (StopRequested()) {
                m_summary.stoppedBy = "signal";
                return;
            }
            if (schedule.Finished(Attempted())) {
                m_summary.stoppedBy = m_plan.options.pace == Pace::Once   ? "once"
                                      : schedule.ReplayEnded(Attempted()) ? "end of file"
                                      : schedule.EndsByDuration()         ? "duration"
                                                                          : "count";
                return;
            }
            const double elapsed = Elapsed();
            Mark(elapsed);
            if (DurationLeft() <= 0) {
                // What fell due before the end still goes, for a while.
                if (!schedule.EndsByDuration() || DurationLeft() < -DurationGraceSeconds) {
                    if (schedule.EndsByDuration())
                        m_summary.durationUnsent += schedule.Total() - Attempted();
                    m_summary.stoppedBy = "duration";
                    return;
                }
                m_final = true;
            }
            if (elapsed >= schedule.EndSeconds()) {
                m_summary.stoppedBy = "steps";
                return;
            }
            if (m_tendDue) {
                m_tendDue = false;
                if (SessionLost())
                    return;
            }
            const std::int64_t due = m_final ? schedule.Total() : schedule.DueBy(elapsed);
            m_overdue = schedule.DueBefore(elapsed - LateSeconds);
            // What is long overdue is skipped, not sent in a burst; the
            // batch waiting for room was due when it was built.
            if (m_plan.options.noCatchUp && !m_channel->Holding() && Attempted() < m_overdue) {
                stream.Skip(m_overdue - Attempted());
                m_summary.skipped += m_overdue - Attempted();
            }
            if (!m_channel->Ready()) {
                // Every session is waiting to be opened again.
                Wait(WaitSlice());
                continue;
            }
            const std::int64_t attempted = Attempted();
            if (attempted < due) {
                const std::int64_t batch = std::min<std::int64_t>(m_channel->BatchOf(due - attempted), BatchLimit);
                if (!SendBatch(stream, batch))
                    return;
                continue;
            }
            double wake = std::min(schedule.DueAt(attempted), m_nextMark);
            wake = std::min({wake, Elapsed() + DurationLeft(), schedule.EndSeconds()});
            Wait(wake - elapsed);
        }
    }

    // Hands one batch over; false when the run is over.
    bool SendBatch(PacketStream &stream, std::int64_t count)
    {
        SendChannel::Handed handed;
        const SendChannel::Handover handover = m_channel->Send(stream, count, MillisecondsOf(WaitSlice()), handed);
        switch (handover) {
        case SendChannel::Handover::Blocked:
            // The events of the sessions, and the clock's marks, between slices.
            QCoreApplication::processEvents();
            m_tendDue = true;
            return true;
        case SendChannel::Handover::Stalled:
            Failure(m_channel->Failure(), "error");
            FailDue();
            return false;
        case SendChannel::Handover::BadSource:
            m_summary.error = !stream.ReplayFault().empty()
                                  ? "--replay: " + stream.ReplayFault()
                                  : SourceFileName() + ": '" + m_plan.options.sourceFile +
                                        "' has a line longer than 64 KiB, more than one message can be";
            m_summary.stoppedBy = "error";
            m_summary.exitStatus = 2;
            return false;
        case SendChannel::Handover::Sent:
        case SendChannel::Handover::Failed:
            break;
        }
        // Late: due before the moment that lies LateSeconds back.
        m_summary.late += std::min(handed.handed, std::max<std::int64_t>(0, m_overdue - Attempted()));
        m_summary.bytes += handed.bytes;
        m_summary.sent += handed.handed;
        m_summary.failed += handed.count - handed.handed;
        // Lets the endpoints' events arrive; every few milliseconds is soon
        // enough, and a poll per batch costs a system call.
        const auto now = SteadyClock::now();
        if (handed.handed < handed.count || now - m_lastEvents >= EventInterval) {
            QCoreApplication::processEvents();
            m_lastEvents = now;
            m_tendDue = true;
        }
        if (handover == SendChannel::Handover::Sent)
            return true;
        if (m_summary.error.empty() && !SessionLost())
            Failure(m_channel->NothingSentText(), "error");
        return false;
    }

    std::string SourceFileName() const
    {
        return m_plan.options.savedSourceFile ? "--from-settings: the saved FileToReadFrom" : "--source-file";
    }

    // The messages due by now that were not sent nor skipped have failed.
    void FailDue()
    {
        const std::int64_t due = m_schedule->DueBy(Elapsed());
        if (due != PaceSchedule::NoLimit && due > Attempted())
            m_summary.failed += due - Attempted();
    }

    // Looks after the channel; true when it failed and the run is over.
    bool SessionLost()
    {
        const std::string failure = m_channel->Tend();
        if (failure.empty())
            return false;
        Failure(failure, "connection");
        return true;
    }

    void Wait(double seconds)
    {
        const double slice = std::clamp(seconds, 0.001, WaitSliceSeconds);
        m_channel->Wait(SteadyClock::now() +
                        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(slice)));
        m_tendDue = true;
    }

    // How long a wait may last: until the next second's mark at most.
    double WaitSlice() const
    {
        return std::clamp(std::min(m_nextMark - Elapsed(), DurationLeft()), 0.001, WaitSliceSeconds);
    }

    // Each second's counters, read before the second's first batch goes.
    void Mark(double elapsed)
    {
        if (elapsed < m_nextMark)
            return;
        m_nextMark = std::max(m_nextMark + 1, std::floor(elapsed) + 1);
        m_lane.marks->Post({elapsed, EpochSeconds(), Counters(elapsed)});
    }

    SendCounters Counters(double elapsed) const
    {
        SendCounters counters;
        counters.sent = m_summary.sent + m_takenBack;
        counters.failed = m_summary.failed;
        counters.bytes = m_summary.bytes;
        m_channel->Count(counters);
        if (m_schedule)
            counters.target = m_schedule->TargetBy(elapsed);
        counters.threadCpuSeconds = {m_cpu.Seconds()};
        return counters;
    }

    // What was accepted is given its time before the run's is taken. After a
    // failure the run is over: closing gives what is left a last moment.
    void Finish()
    {
        const SendCounters sending = Counters(Elapsed());
        m_summary.blockedSeconds = sending.blockedSeconds;
        m_summary.queuedBytes = sending.queuedBytes;
        NoteSchedule();
        NoteReplay();
        m_drainEnd = SteadyClock::now() + MillisecondsOf(m_plan.options.drainTimeout);
        const std::int64_t handedOver = m_summary.sent;
        if (const std::string problem = m_channel->Finish(m_summary, *m_drainEnd); !problem.empty())
            Failure(problem, "");
        m_takenBack = handedOver - m_summary.sent;
        m_summary.elapsedSeconds = Elapsed();
        m_last = WorkerMark{m_summary.elapsedSeconds, EpochSeconds(), Counters(m_summary.elapsedSeconds)};
    }

    void NoteReplay()
    {
        if (!m_schedule || m_plan.options.pace != Pace::Replay)
            return;
        m_summary.replayGapsCut = static_cast<std::int64_t>(m_schedule->ReplayGapsCut());
        m_summary.replayWentBack = static_cast<std::int64_t>(m_schedule->ReplayWentBack());
        m_summary.replayJoinsSplit = static_cast<std::int64_t>(m_schedule->ReplayJoinsSplit());
        m_summary.replayMaxGap = m_plan.options.replayMaxGap;
    }

    void NoteSchedule()
    {
        const std::optional<ScheduleTimes> now = ThisThreadSchedule();
        const double elapsed = Elapsed();
        if (!m_startSchedule || !now || elapsed <= 0)
            return;
        const double waited = now->waitSeconds - m_startSchedule->waitSeconds;
        m_summary.busiestThreadShare = (now->runSeconds - m_startSchedule->runSeconds + waited) / elapsed;
        m_summary.threadWaitShare = waited / elapsed;
    }

    const LoadPlan &m_plan;
    const ThreadShare &m_share;
    WorkerLane m_lane;
    std::unique_ptr<SendChannel> m_channel;
    RunSummary m_summary;
    std::optional<PaceSchedule> m_schedule;
    ThreadCpuClock m_cpu;
    std::optional<ScheduleTimes> m_startSchedule;
    SteadyClock::time_point m_start = SteadyClock::now();
    SteadyClock::time_point m_lastEvents = SteadyClock::now();
    double m_nextMark = 1;
    // Messages due LateSeconds ago: those sent after are late.
    std::int64_t m_overdue = 0;
    bool m_tendDue = true;
    // --duration is over: only what fell due before its end is left to send.
    bool m_final = false;
    std::optional<SteadyClock::time_point> m_drainEnd;
    // Handed over but still held by the sessions at the end, so no longer
    // sent: each second's figures counted them as they went, and stay so.
    std::int64_t m_takenBack = 0;
    std::optional<WorkerMark> m_last;
};
} // namespace

void WorkerMarks::Post(WorkerMark mark)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_marks.push_back(std::move(mark));
}

void WorkerMarks::End(std::optional<WorkerMark> last)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_last = std::move(last);
    m_ended = true;
}

std::optional<WorkerMark> WorkerMarks::Take()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_marks.empty())
        return std::nullopt;
    WorkerMark mark = std::move(m_marks.front());
    m_marks.pop_front();
    return mark;
}

bool WorkerMarks::Over()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended && m_marks.empty();
}

std::optional<WorkerMark> WorkerMarks::Last()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

RunSummary RunWorker(const LoadPlan &plan, const ThreadShare &share, const WorkerLane &lane,
                     const SendChannel::Say &say)
{
    RunSummary summary = SendWorker(plan, share, lane, say).Run();
    // OpenSSL's state for this thread goes with the worker, whatever else
    // the thread does before its end.
    if (lane.tls)
        ReleaseTlsThreadState();
    return summary;
}
