#include "load/RelpChannel.h"

#include "engine/Stamp.h"
#include "load/PacketStream.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {
constexpr auto TellEvery = std::chrono::seconds(1);
constexpr auto FirstBackOff = std::chrono::milliseconds(50);
constexpr auto LongestBackOff = std::chrono::milliseconds(2000);

std::string SecondsText(std::chrono::duration<double> time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", time.count());
    return text;
}
} // namespace

RelpChannel::RelpChannel(RelpPlan plan, Say say) : m_plan(std::move(plan)), m_say(std::move(say))
{
    m_sessions.resize(static_cast<std::size_t>(std::max(1, m_plan.count)));
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        Session &s = m_sessions[i];
        s.index = m_plan.firstIndex + static_cast<int>(i);
        s.endpoint = std::make_unique<RelpEndpoint>(m_plan.client);
        if (!m_plan.runId.empty())
            s.stamper.emplace(m_plan.runId, StreamId(m_plan.shard, static_cast<std::uint64_t>(s.index) + 1),
                              m_plan.stampKey ? &*m_plan.stampKey : nullptr);
    }
}

std::string RelpChannel::TargetText() const
{
    return m_plan.client.host + ":" + std::to_string(m_plan.client.port);
}

int RelpChannel::UpCount() const
{
    return static_cast<int>(
        std::count_if(m_sessions.begin(), m_sessions.end(), [](const Session &s) { return s.endpoint->Up(); }));
}

bool RelpChannel::Ready() const
{
    return UpCount() > 0;
}

std::int64_t RelpChannel::BatchOf(std::int64_t due) const
{
    return std::max<std::int64_t>(1, due / std::max(1, UpCount()));
}

bool RelpChannel::Connect(Session &s, Clock::time_point now)
{
    const bool again = s.everUp;
    const Status up = s.endpoint->Connect();
    if (up) {
        s.everUp = true;
        s.failures = 0;
        s.retryAt.reset();
        if (s.downSince)
            m_longestOutage = std::max(m_longestOutage, Clock::now() - *s.downSince);
        s.downSince.reset();
        s.reconnects += again ? 1 : 0;
        m_lastUp = Clock::now();
        return true;
    }
    m_lastFailure = up.Why();
    Broke(s, now);
    return false;
}

// The session's unacknowledged messages may or may not have arrived; with
// reconnect it is tried again after a back-off that doubles with each failure.
void RelpChannel::Broke(Session &s, Clock::time_point now)
{
    s.unknownFate += s.endpoint->Unacknowledged();
    if (!s.endpoint->Error().empty())
        m_lastFailure = s.endpoint->Error();
    s.endpoint->Abandon();
    if (!s.downSince)
        s.downSince = now;
    if (!m_plan.reconnect) {
        if (m_failure.empty())
            m_failure = m_lastFailure;
        return;
    }
    const auto backOff =
        std::min<std::chrono::milliseconds>(FirstBackOff * (1 << std::min(s.failures, 6)), LongestBackOff);
    ++s.failures;
    s.retryAt = now + backOff;
    ++m_untold;
    if (m_lastTold && now - *m_lastTold < TellEvery)
        return;
    std::string line = "RELP session " + std::to_string(s.index + 1) + ": " + m_lastFailure + "; trying again in " +
                       SecondsText(backOff);
    if (m_untold > 1)
        line += " (" + std::to_string(m_untold) + " failures since the last line)";
    m_untold = 0;
    m_lastTold = now;
    m_say(line);
}

SendChannel::Opened RelpChannel::Open(Clock::time_point)
{
    const auto now = Clock::now();
    for (Session &s : m_sessions)
        Connect(s, now);
    if (!m_failure.empty())
        return Opened::Failed;
    return Opened::Ready;
}

std::string RelpChannel::Tend()
{
    if (!m_failure.empty())
        return m_failure;
    const auto now = Clock::now();
    for (Session &s : m_sessions)
        if (!s.endpoint->Up() && s.retryAt && *s.retryAt <= now)
            Connect(s, now);
    if (!m_failure.empty())
        return m_failure;
    if (UpCount() == 0 && now - m_lastUp >= m_plan.downLimit)
        m_failure = "no RELP session to " + TargetText() + " was up for " + SecondsText(now - m_lastUp) +
                    (m_lastFailure.empty() ? "" : "; the last attempt: " + m_lastFailure);
    return m_failure;
}

void RelpChannel::Wait(Clock::time_point until)
{
    // Nothing to listen to in between: librelp reads the answers while it sends.
    for (const Session &s : m_sessions)
        if (s.retryAt)
            until = std::min(until, *s.retryAt);
    std::this_thread::sleep_until(until);
}

// The batch goes to the next session in turn, message by message; librelp
// holds each send while the session's window is full.
SendChannel::Handover RelpChannel::Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds,
                                        Handed &handed)
{
    Session *session = nullptr;
    for (std::size_t tried = 0; tried < m_sessions.size() && !session; ++tried) {
        Session &s = m_sessions[m_next];
        m_next = (m_next + 1) % m_sessions.size();
        if (s.endpoint->Up())
            session = &s;
    }
    if (!session)
        return Handover::Blocked;
    stream.StartBatch();
    stream.UseStamper(session->stamper ? &*session->stamper : nullptr);
    const std::optional<std::string_view> batch = stream.RenderBatch(count, m_bytes, m_sizes);
    if (!batch)
        return Handover::BadSource;
    std::size_t went = 0;
    std::size_t offset = 0;
    for (const std::uint32_t size : m_sizes) {
        if (!session->endpoint->Send(batch->substr(offset, size)))
            break;
        offset += size;
        ++went;
    }
    stream.Withdraw(went);
    session->sent += static_cast<std::int64_t>(went);
    handed.handed = static_cast<std::int64_t>(went);
    handed.bytes = static_cast<std::int64_t>(offset);
    if (went == m_sizes.size()) {
        handed.count = handed.handed;
        return Handover::Sent;
    }
    Broke(*session, Clock::now());
    // The messages after the break never went: with reconnect they go
    // later, on a session that is up; without, the run ends.
    handed.count = m_plan.reconnect ? handed.handed : static_cast<std::int64_t>(m_sizes.size());
    if (went > 0)
        return Handover::Sent;
    return m_plan.reconnect ? Handover::Blocked : Handover::Failed;
}

std::string RelpChannel::NothingSentText() const
{
    return "RELP session to " + TargetText() + " failed" + (m_lastFailure.empty() ? "" : ": " + m_lastFailure);
}

void RelpChannel::Count(SendCounters &counters) const
{
    counters.connections = UpCount();
    for (const Session &s : m_sessions) {
        counters.unknownFate += s.unknownFate;
        counters.opened += (s.everUp ? 1 : 0) + s.reconnects;
    }
}

// Each session is closed politely: librelp waits for the answer to its
// close, which comes after every earlier one.
std::string RelpChannel::Finish(RunSummary &summary, Clock::time_point)
{
    std::int64_t unanswered = 0;
    for (Session &s : m_sessions) {
        if (!s.endpoint->Up())
            continue;
        const std::int64_t left = s.endpoint->Close();
        s.unknownFate += left;
        unanswered += left;
    }
    if (!summary.error.empty() || unanswered == 0)
        return {};
    return std::to_string(unanswered) + " messages were not acknowledged by " + TargetText() + " at the end";
}

void RelpChannel::Stamps(RunSummary &summary, const PacketStream &) const
{
    for (const Session &s : m_sessions)
        if (s.stamper)
            summary.streams.push_back({s.stamper->Stream(), s.stamper->NextSeq() - 1});
}

std::string RelpChannel::Collect(RunSummary &summary) const
{
    std::int64_t up = 0;
    summary.acknowledged = 0;
    for (const Session &s : m_sessions) {
        summary.connections.push_back({s.index, s.sent, s.unknownFate, s.reconnects});
        summary.unknownFate += s.unknownFate;
        summary.reconnects += s.reconnects;
        *summary.acknowledged += s.endpoint->Acknowledged();
        up += s.everUp ? 1 : 0;
    }
    summary.connectionsUp = up;
    auto longest = m_longestOutage;
    for (const Session &s : m_sessions)
        if (s.downSince && s.everUp)
            longest = std::max(longest, Clock::now() - *s.downSince);
    summary.longestOutage = std::chrono::duration<double>(longest).count();
    if (up == 0)
        return "no RELP session to " + TargetText() + " came up" +
               (m_lastFailure.empty() ? "" : "; the last attempt: " + m_lastFailure);
    if (!m_failure.empty())
        return m_failure;
    // Acknowledged means answered as taken: anything else fails the run,
    // a broken session that reconnected included.
    if (summary.unknownFate > 0)
        return std::to_string(summary.unknownFate) + " messages sent to " + TargetText() +
               " were never acknowledged (of unknown fate)";
    return {};
}

void RelpChannel::Close(Clock::time_point)
{
    for (Session &s : m_sessions)
        s.endpoint->Abandon();
}
