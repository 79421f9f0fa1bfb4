#include "load/PaceSchedule.h"

#include "common/Random.h"

#include <algorithm>
#include <cmath>

namespace {
// A rate times a duration a rounding away from a whole number of messages.
constexpr double DurationTolerance = 1e-6;
} // namespace

PaceSchedule::PaceSchedule(const LoadPlan &plan, const ThreadShare &share)
{
    const Options &options = plan.options;
    switch (options.pace) {
    case Pace::Once:
        m_total = 1;
        break;
    case Pace::EverySecond:
        m_period = 1;
        break;
    case Pace::EveryMinute:
        m_period = 60;
        break;
    case Pace::Continuous:
        m_period = options.continuousMs / 1000.0;
        break;
    case Pace::Burst:
        m_period = 10;
        m_perTick = options.burstSize;
        break;
    case Pace::Rate: {
        // The gaps are their own random sequence: the messages stay as without them.
        std::optional<ShapePacer::GapStart> gaps;
        if (options.poisson)
            gaps = ShapePacer::GapStart{share.seed.value_or(FixedRandomStart), options.shard.index};
        m_shaped.emplace(share.shape, gaps);
        // Random gaps have no count known in advance.
        if (options.duration > 0 && !options.poisson && share.shape.EndSeconds() >= options.duration) {
            const double before = share.shape.MessagesBy(options.duration);
            const auto count = static_cast<std::int64_t>(std::max(0.0, std::ceil(before - DurationTolerance)));
            if (share.count <= 0 || count < share.count) {
                m_total = count;
                m_byDuration = true;
            }
        }
        break;
    }
    case Pace::Unlimited:
        m_unlimited = true;
        break;
    case Pace::Replay:
        m_replay.emplace(ReplayLaneOf(plan, share), options.replaySpeed, options.replayMaxGap);
        break;
    }
    if (share.count > 0 && !m_byDuration)
        m_total = std::min(m_total, share.count);
}

namespace {
// Readings closer together than this are not kept, which bounds how many
// are held however fast the loop asks.
constexpr double ReadingSpacing = 0.001;
} // namespace

std::int64_t PaceSchedule::DueBy(double seconds)
{
    const std::int64_t due = DueByTime(seconds);
    if (m_readings.empty() || seconds >= m_readings.back().seconds + ReadingSpacing)
        m_readings.push_back({seconds, due});
    return due;
}

std::int64_t PaceSchedule::DueBefore(double seconds)
{
    if (!m_shaped && m_period <= 0 && (!m_replay || m_replay->AllAtOnce()))
        return 0;
    while (m_readings.size() > 1 && m_readings[1].seconds <= seconds)
        m_readings.pop_front();
    return !m_readings.empty() && m_readings.front().seconds <= seconds ? m_readings.front().due : 0;
}

std::int64_t PaceSchedule::DueByTime(double seconds)
{
    if (m_shaped)
        return std::min(m_shaped->DueBy(seconds), m_total);
    if (m_replay)
        return std::min(m_replay->DueBy(seconds), m_total);
    if (m_period <= 0)
        return m_total;
    // The first tick is due at once; a tiny epsilon keeps a tick that lands
    // exactly on its time (1000 x 0.001 s) from slipping to the next wake-up.
    const double ticks = std::floor(std::max(seconds, 0.0) / m_period + 1e-9) + 1;
    const double messages = ticks * static_cast<double>(m_perTick);
    if (messages >= static_cast<double>(m_total))
        return m_total;
    return static_cast<std::int64_t>(messages);
}

double PaceSchedule::DueAt(std::int64_t index)
{
    if (m_shaped)
        return m_shaped->DueAt(index);
    if (m_replay)
        return m_replay->DueAt(index);
    return static_cast<double>(index / m_perTick) * m_period;
}

std::optional<double> PaceSchedule::TargetBy(double seconds) const
{
    if (m_shaped)
        return m_shaped->TargetBy(seconds);
    // The lines due by the latest reading, close behind seconds.
    if (m_replay && !m_replay->AllAtOnce())
        return static_cast<double>(std::min(m_replay->Counted(), m_total));
    if (m_unlimited || m_replay)
        return LoadShape::Never;
    return std::nullopt;
}
