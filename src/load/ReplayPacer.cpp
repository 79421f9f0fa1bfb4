#include "load/ReplayPacer.h"

#include "load/LoadShape.h"

#include <cmath>

namespace {
// Lines counted per DueBy: well above a batch, so the sender never waits
// for the count to catch up.
constexpr int MostReadPerCall = 4096;
// A line due exactly at the time asked is due then, whatever the rounding.
constexpr double Tolerance = 1e-9;
} // namespace

namespace {
ReplayLane Limited(ReplayLane lane, double speed, double maxGap)
{
    // At speed max nothing waits: no gap to cut.
    lane.longestGapUs = speed > 0 && maxGap > 0 ? std::llround(maxGap * speed * 1e6) : 0;
    return lane;
}
} // namespace

ReplayPacer::ReplayPacer(ReplayLane lane, double speed, double maxGap)
    : m_lines(Limited(std::move(lane), speed, maxGap)), m_speed(speed)
{
    ReadNext();
}

void ReplayPacer::ReadNext()
{
    ReplayLine line;
    if (m_lines.Next(line)) {
        m_next = m_speed > 0 ? static_cast<double>(line.offsetUs) / 1e6 / m_speed : 0;
        return;
    }
    // A line that cannot be read is due at once: the reader of the messages
    // then comes to it and names the fault, so the run does not end as if
    // the file had.
    if (!m_lines.Outcome() && !m_failed) {
        m_failed = true;
        m_next = m_next.value_or(0);
        return;
    }
    m_next.reset();
}

std::int64_t ReplayPacer::DueBy(double seconds)
{
    for (int read = 0; read < MostReadPerCall && m_next && *m_next <= seconds + Tolerance; ++read) {
        ++m_counted;
        ReadNext();
    }
    return m_counted;
}

double ReplayPacer::DueAt(std::int64_t index) const
{
    if (index < m_counted)
        return 0;
    return m_next ? *m_next : LoadShape::Never;
}
