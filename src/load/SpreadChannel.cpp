#include "load/SpreadChannel.h"

#include <algorithm>

namespace {
// More than any batch takes, far from overflowing when added up.
constexpr std::int64_t MostDue = std::int64_t{1} << 40;
} // namespace

SpreadChannel::SpreadChannel(std::vector<Part> parts) : m_parts(std::move(parts))
{
    for (const Part &part : m_parts) {
        RunSummary::TargetFigures figures;
        figures.target = part.destination.target;
        figures.port = part.destination.port;
        m_figures.push_back(std::move(figures));
    }
    m_streams.resize(m_parts.size());
}

SendChannel::Opened SpreadChannel::Open(Clock::time_point deadline)
{
    for (std::size_t k = 0; k < m_parts.size(); ++k) {
        const Opened opened = m_parts[k].channel->Open(deadline);
        if (opened == Opened::Ready)
            continue;
        m_current = k;
        m_failure = m_parts[k].channel->Failure();
        return opened;
    }
    return Opened::Ready;
}

void SpreadChannel::Begin(PacketStream &stream)
{
    for (Part &part : m_parts)
        part.channel->Begin(stream);
}

bool SpreadChannel::Ready() const
{
    return m_holding || std::any_of(m_parts.begin(), m_parts.end(), [](const Part &p) { return p.channel->Ready(); });
}

std::size_t SpreadChannel::NextPart() const
{
    if (m_holding)
        return m_current;
    std::size_t next = m_parts.size();
    for (std::size_t k = 0; k < m_parts.size(); ++k)
        if (m_parts[k].channel->Ready() && (next == m_parts.size() || Attempted(k) < Attempted(next)))
            next = k;
    return next;
}

std::int64_t SpreadChannel::BatchOf(std::int64_t due) const
{
    const std::size_t next = NextPart();
    if (next == m_parts.size())
        return 1;
    // Without a count an unlimited run has all of time's messages due.
    std::int64_t total = std::min<std::int64_t>(due, MostDue);
    for (std::size_t k = 0; k < m_parts.size(); ++k)
        total += Attempted(k);
    const auto parts = static_cast<std::int64_t>(m_parts.size());
    const std::int64_t evenShare = (total + parts - 1) / parts;
    return m_parts[next].channel->BatchOf(std::max<std::int64_t>(1, evenShare - Attempted(next)));
}

SendChannel::Handover SpreadChannel::Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                                          Handed &handed)
{
    const std::size_t next = NextPart();
    if (next == m_parts.size())
        return Handover::Blocked;
    m_current = next;
    const Handover handover = Current().Send(stream, count, waitLimit, handed);
    m_holding = Current().Holding();
    if (handover == Handover::Sent || handover == Handover::Failed) {
        m_figures[m_current].sent += handed.handed;
        m_figures[m_current].failed += handed.count - handed.handed;
    }
    return handover;
}

void SpreadChannel::Abandon(PacketStream &stream)
{
    if (m_holding)
        Current().Abandon(stream);
    m_holding = false;
}

std::string SpreadChannel::Tend()
{
    std::string why;
    for (Part &part : m_parts)
        if (std::string failure = part.channel->Tend(); !failure.empty() && why.empty())
            why = std::move(failure);
    return why;
}

// One part is waited on; the others' events arrive meanwhile.
void SpreadChannel::Wait(Clock::time_point until)
{
    const std::size_t next = NextPart();
    m_parts[next == m_parts.size() ? 0 : next].channel->Wait(until);
}

std::string SpreadChannel::Failure() const
{
    return m_failure.empty() ? Current().Failure() : m_failure;
}

std::string SpreadChannel::NothingSentText() const
{
    return Current().NothingSentText();
}

void SpreadChannel::Count(SendCounters &counters) const
{
    for (const Part &part : m_parts) {
        SendCounters one;
        part.channel->Count(one);
        counters.connections += one.connections;
        counters.unknownFate += one.unknownFate;
        counters.refused += one.refused;
        counters.opened += one.opened;
        counters.blockedSeconds += one.blockedSeconds;
        counters.queuedBytes += one.queuedBytes;
    }
}

std::string SpreadChannel::Finish(RunSummary &summary, Clock::time_point deadline)
{
    std::string why;
    for (std::size_t k = 0; k < m_parts.size(); ++k) {
        RunSummary one;
        one.error = summary.error;
        one.sent = m_figures[k].sent;
        std::string problem = m_parts[k].channel->Finish(one, deadline);
        summary.sent -= m_figures[k].sent - one.sent;
        m_figures[k].sent = one.sent;
        m_figures[k].refused = one.refused;
        summary.refused += one.refused;
        summary.untakenBytes += one.untakenBytes;
        if (why.empty())
            why = std::move(problem);
    }
    return why;
}

void SpreadChannel::Stamps(RunSummary &summary, const PacketStream &stream) const
{
    for (std::size_t k = 0; k < m_parts.size(); ++k) {
        const std::size_t before = summary.streams.size();
        m_parts[k].channel->Stamps(summary, stream);
        m_streams[k].clear();
        for (std::size_t i = before; i < summary.streams.size(); ++i)
            m_streams[k].push_back(summary.streams[i].stream);
    }
}

std::string SpreadChannel::Collect(RunSummary &summary) const
{
    std::string why;
    for (std::size_t k = 0; k < m_parts.size(); ++k) {
        RunSummary one;
        std::string problem = m_parts[k].channel->Collect(one);
        if (summary.tlsVersion.empty()) {
            summary.tlsVersion = one.tlsVersion;
            summary.tlsCipher = one.tlsCipher;
        }
        summary.connections.insert(summary.connections.end(), one.connections.begin(), one.connections.end());
        summary.connectionsUp += one.connectionsUp;
        summary.unknownFate += one.unknownFate;
        if (one.acknowledged)
            summary.acknowledged = summary.acknowledged.value_or(0) + *one.acknowledged;
        summary.reconnects += one.reconnects;
        summary.longestOutage = std::max(summary.longestOutage, one.longestOutage);
        summary.drops += one.drops;
        summary.refusedConnections += one.refusedConnections;
        summary.idle += one.idle;
        RunSummary::TargetFigures figures = m_figures[k];
        figures.unknownFate = one.unknownFate;
        figures.reconnects = one.reconnects;
        figures.connectionsUp = one.connectionsUp;
        figures.drops = one.drops;
        figures.streams = m_streams[k];
        summary.targets.push_back(std::move(figures));
        // A target no session ever reached fails the run, though others took messages.
        if (why.empty())
            why = std::move(problem);
    }
    return why;
}

void SpreadChannel::Close(Clock::time_point deadline)
{
    for (Part &part : m_parts)
        part.channel->Close(deadline);
}
