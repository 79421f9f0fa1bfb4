#include "load/SendSeconds.h"

#include <algorithm>
#include <cmath>

namespace {
// --duration counts connecting too, so a run it ends stops this much short
// of the sending clock's mark: that second is still a whole one.
constexpr double MarkSlack = 0.01;
} // namespace

std::optional<double> SendSecond::TargetRate() const
{
    if (!targetMessages)
        return std::nullopt;
    return *targetMessages / length;
}

bool SendSecond::SenderBound() const
{
    return full && targetMessages && busiestCpu >= FullCpu && static_cast<double>(sent) < Behind * *targetMessages;
}

std::optional<SendSecond> SendSeconds::Record(double elapsed, double epoch, const SendCounters &counters, bool full)
{
    SendSecond record;
    record.length = elapsed - m_previousElapsed;
    if (record.length <= 0)
        return std::nullopt;
    record.second = ++m_records;
    record.elapsed = elapsed;
    record.epoch = epoch;
    record.full = full || (std::ceil(elapsed) - elapsed <= MarkSlack && record.length > 0.5);
    if (counters.target)
        record.targetMessages =
            std::isinf(*counters.target) ? *counters.target : *counters.target - m_previous.target.value_or(0);
    record.sent = counters.sent - m_previous.sent;
    record.failed = counters.failed - m_previous.failed;
    record.unknownFate = counters.unknownFate - m_previous.unknownFate;
    record.connections = counters.connections;
    record.blockedSeconds = counters.blockedSeconds - m_previous.blockedSeconds;
    for (std::size_t i = 0; i < counters.threadCpuSeconds.size(); ++i) {
        const double before = i < m_previous.threadCpuSeconds.size() ? m_previous.threadCpuSeconds[i] : 0;
        record.busiestCpu = std::max(record.busiestCpu, (counters.threadCpuSeconds[i] - before) / record.length);
    }
    m_previous = counters;
    m_previousElapsed = elapsed;

    if (record.full) {
        const std::optional<double> target = record.TargetRate();
        m_finiteTarget = target && std::isfinite(*target);
        const double rate = record.Rate();
        ++m_full;
        if (m_finiteTarget) {
            m_targetSquares += (rate - *target) * (rate - *target);
            m_targetSum += *target;
        }
        const double delta = rate - m_mean;
        m_mean += delta / static_cast<double>(m_full);
        m_squares += delta * (rate - m_mean);
        m_rateSum += rate;
        if (record.SenderBound())
            ++m_senderBound;
    }
    return record;
}

RateSpread SendSeconds::Spread() const
{
    RateSpread spread;
    spread.fullSeconds = m_full;
    spread.senderBoundSeconds = m_senderBound;
    if (m_full == 0)
        return spread;
    const double count = static_cast<double>(m_full);
    if (m_finiteTarget) {
        spread.meanTarget = m_targetSum / count;
        if (m_targetSum > 0)
            spread.achievedRatio = m_rateSum / m_targetSum;
    }
    if (m_full < 2)
        return spread;
    // The target is known, not estimated: no degree of freedom is lost.
    spread.stddev = m_finiteTarget ? std::sqrt(m_targetSquares / count) : std::sqrt(m_squares / (count - 1));
    const double base = m_finiteTarget ? m_targetSum / count : m_rateSum / count;
    if (base > 0)
        spread.stddevRatio = *spread.stddev / base;
    return spread;
}
