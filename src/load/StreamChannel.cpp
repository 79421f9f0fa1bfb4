#include "load/StreamChannel.h"

#include "common/Random.h"
#include "common/StopFlag.h"
#include "load/PacketStream.h"
#include "transport/SocketEndpoint.h"

#include <cstdio>

namespace {
// A session that takes nothing for this long has a receiver that stopped reading.
constexpr auto StallLimit = std::chrono::seconds(2);
// The stop signal is looked for this often while sessions are opened.
constexpr auto StopCheck = std::chrono::milliseconds(50);

std::string FixedSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// Idle sessions have no stamps: they carry no message.
ConnectionPlan IdlePlan(ConnectionPlan plan)
{
    plan.count = plan.idleCount;
    plan.idle = true;
    plan.runId.clear();
    return plan;
}
} // namespace

StreamChannel::StreamChannel(ConnectionPlan plan, Clock::time_point runStart, Say say)
    : m_targetText(plan.targetText), m_sessionWord(plan.sessionWord), m_runStart(runStart), m_say(std::move(say)),
      m_set(plan), m_idle(plan.idleCount > 0 ? std::make_unique<ConnectionSet>(IdlePlan(plan)) : nullptr),
      m_dropChance(plan.dropChance), m_dropFlushLimit(plan.dropFlushLimit)
{}

void StreamChannel::TellRetries()
{
    if (const std::string line = m_set.TakeRetryLine(); !line.empty())
        m_say(line);
    if (m_idle)
        if (const std::string line = m_idle->TakeRetryLine(); !line.empty())
            m_say("idle session: " + line);
}

// Every session is tried once (each attempt ends within its own limit)
// before sending starts; with reconnect the failed ones try again later.
SendChannel::Opened StreamChannel::Open(Clock::time_point deadline)
{
    const int count = static_cast<int>(m_set.All().size());
    const auto opening = [this] { return !m_set.Settled() || (!IdleSettled() && m_set.Failure().empty()); };
    for (Tend(); opening() && !StopRequested() && Clock::now() < deadline; Tend())
        (m_set.Settled() ? *m_idle : m_set).Await(std::min(deadline, Clock::now() + StopCheck));
    TellRetries();
    if (!m_set.Failure().empty()) {
        m_failure = m_set.Failure();
        return Opened::Failed;
    }
    const bool allUp = m_set.Up() == count;
    if (StopRequested() && !allUp)
        return Opened::Stopped;
    if (Clock::now() >= deadline && !allUp)
        return Opened::OutOfTime;
    return Opened::Ready;
}

std::string StreamChannel::Tend()
{
    m_set.Tend();
    if (m_idle)
        m_idle->Tend();
    TellRetries();
    return m_set.Failure();
}

// The batch goes to the next session in turn as one write. A full socket is
// waited for in slices: the same bytes, built for that session's stamps, go
// again when asked again.
SendChannel::Handover StreamChannel::Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                                          Handed &handed)
{
    // A session that ended while its batch waited never had it.
    if (m_waiting && m_waiting->phase != ConnectionSet::Connection::Phase::Up)
        Abandon(stream);
    if (!m_waiting) {
        // None up after all: the next look at the sessions says so.
        ConnectionSet::Connection *connection = m_set.NextUp();
        if (!connection)
            return Handover::Blocked;
        stream.StartBatch();
        stream.UseStamper(connection->stamper ? &*connection->stamper : nullptr);
        // The stream is the packets back to back, so the batch is built as
        // those bytes and goes in one write.
        const std::optional<std::string_view> batch = stream.RenderBatch(count, m_bytes, m_sizes);
        if (!batch)
            return Handover::BadSource;
        m_batch = *batch;
        m_waiting = connection;
    }
    ConnectionSet::Connection &connection = *m_waiting;
    const std::size_t went = m_set.Send(connection, m_batch, m_sizes, waitLimit);
    if (went == 0 && connection.endpoint->State() == SocketEndpoint::StateConnected) {
        const auto now = Clock::now();
        if (!m_blockedSince)
            m_blockedSince = now;
        if (now - *m_blockedSince < StallLimit)
            return Handover::Blocked;
        // A live session that takes nothing is a receiver that stopped reading.
        Abandon(stream);
        m_failure = "the receiver at " + m_targetText + " stopped taking data";
        return Handover::Stalled;
    }
    m_waiting = nullptr;
    m_blockedSince.reset();
    stream.Withdraw(went);
    // Drawn only when asked for, so other runs' random choices stay as they were.
    if (went > 0 && m_dropChance > 0 && NextRandom() < m_dropChance)
        m_set.Drop(connection, m_dropFlushLimit);
    // A batch that waited for room is the one that went.
    handed.count = static_cast<std::int64_t>(m_sizes.size());
    handed.handed = static_cast<std::int64_t>(went);
    handed.bytes = went > 0 ? static_cast<std::int64_t>(m_batch.size()) : 0;
    return went > 0 ? Handover::Sent : Handover::Failed;
}

void StreamChannel::Abandon(PacketStream &stream)
{
    if (!m_waiting)
        return;
    stream.Withdraw(0);
    m_waiting = nullptr;
    m_blockedSince.reset();
}

std::string StreamChannel::NothingSentText() const
{
    return m_sessionWord + " session to " + m_targetText + " failed";
}

void StreamChannel::Count(SendCounters &counters) const
{
    counters.connections = m_set.Up();
    counters.unknownFate = m_set.UnknownFateTotal();
    counters.refused = m_set.RefusedTotal();
    counters.opened = m_set.EverUp() + m_set.ReconnectsTotal();
    counters.blockedSeconds = std::chrono::duration<double>(m_set.BlockedTime()).count();
    counters.queuedBytes = m_set.QueuedBytes();
}

// What the sessions accepted is delivered before the time is taken; what
// they still hold then never reached the receiver's system.
std::string StreamChannel::Finish(RunSummary &summary, Clock::time_point deadline)
{
    if (m_idle)
        m_idle->Tend();
    std::string problem;
    if (summary.error.empty()) {
        problem = m_set.FlushAll(deadline);
        if (!problem.empty())
            summary.untakenBytes = m_set.UntakenBytes();
    }
    summary.sent -= m_set.TakeBackUnacknowledged();
    return problem;
}

void StreamChannel::Stamps(RunSummary &summary, const PacketStream &) const
{
    for (const auto &connection : m_set.All())
        if (connection->stamper)
            summary.streams.push_back({connection->stamper->Stream(), connection->stamper->NextSeq() - 1});
}

std::string StreamChannel::Collect(RunSummary &summary) const
{
    summary.tlsVersion = m_set.TlsVersion();
    summary.tlsCipher = m_set.TlsCipher();
    for (const auto &c : m_set.All())
        summary.connections.push_back({c->index, c->sent, c->unknownFate, c->reconnects});
    summary.connectionsUp = m_set.EverUp();
    summary.unknownFate = m_set.UnknownFateTotal();
    summary.reconnects = m_set.ReconnectsTotal();
    summary.longestOutage = m_set.LongestOutage().count();
    summary.drops = m_set.DropsTotal();
    summary.refusedConnections = m_set.RefusedTotal();
    if (m_idle)
        summary.idle = {static_cast<std::int64_t>(m_idle->All().size()), m_idle->EverUp(), m_idle->BrokenTotal(),
                        m_idle->Up()};
    if (summary.connectionsUp > 0)
        return {};
    const std::string &why = m_set.LastFailure();
    return "no " + m_sessionWord + " session to " + m_targetText + " came up in " +
           FixedSeconds(std::chrono::duration<double>(Clock::now() - m_runStart).count()) +
           (why.empty() ? "" : "; the last attempt: " + why);
}

void StreamChannel::Close(Clock::time_point deadline)
{
    m_set.CloseAll(deadline);
    if (m_idle)
        m_idle->CloseAll(deadline);
}
