#include "load/ShapePacer.h"

#include <cmath>

namespace {
// A deadline that lands exactly on its time (1000 x 0.001 s) is due then,
// not at the next wake-up, whatever the rounding.
constexpr double Tolerance = 1e-9;
// Counts beyond this are as good as no limit (and past it a double no longer
// converts to a count).
constexpr double MostMessages = 9e18;
// A sender this far behind its Poisson arrivals has no use for each one's
// time: the rest are counted at their mean spacing, so a rate beyond the
// machine or a long jump in time costs a bounded number of draws per call.
constexpr double MostDrawnBehind = 1024;

std::int64_t Count(double messages)
{
    return messages >= MostMessages ? ShapePacer::NoLimit : static_cast<std::int64_t>(messages);
}
} // namespace

ShapePacer::ShapePacer(LoadShape shape, std::optional<GapStart> poisson) : m_shape(std::move(shape))
{
    const double end = m_shape.EndSeconds();
    if (end != LoadShape::Never)
        m_endPosition = m_shape.MessagesBy(end) - Tolerance;
    if (poisson) {
        // seed_seq's mixing is fixed by the standard, as is the engine, so
        // the gaps are the same wherever the program runs.
        const auto half = [](std::uint64_t value, int shift) { return static_cast<std::uint32_t>(value >> shift); };
        std::seed_seq sequence{half(poisson->seed, 0), half(poisson->seed, 32), half(poisson->stream, 0),
                               half(poisson->stream, 32)};
        m_gaps.emplace(sequence);
        m_nextPosition = Gap();
    }
}

double ShapePacer::Gap()
{
    // 53 random bits make a uniform u in [0, 1); -log(1 - u) is exponential
    // with mean 1, and finite.
    const double u = static_cast<double>((*m_gaps)() >> 11) * 0x1.0p-53;
    return -std::log1p(-u);
}

bool ShapePacer::WithinEnd(double position) const
{
    return position < m_endPosition;
}

std::int64_t ShapePacer::DueBy(double seconds)
{
    const double reached = m_shape.MessagesBy(seconds) + Tolerance;
    if (!m_gaps) {
        double due = std::floor(reached) + 1;
        if (m_endPosition != LoadShape::Never)
            due = std::min(due, std::max(0.0, std::ceil(m_endPosition)));
        return Count(due);
    }
    const double last = std::min(reached, m_endPosition);
    if (last - m_nextPosition > MostDrawnBehind) {
        const double skipped = std::floor(last - m_nextPosition);
        m_released = Count(std::min(static_cast<double>(m_released) + skipped, MostMessages));
        m_nextPosition += skipped;
    }
    while (m_nextPosition <= reached && WithinEnd(m_nextPosition) && m_released < NoLimit) {
        ++m_released;
        // Far enough out a gap rounds away; the next position must still move.
        const double next = m_nextPosition + Gap();
        m_nextPosition = next > m_nextPosition ? next : std::nextafter(m_nextPosition, LoadShape::Never);
    }
    return m_released;
}

double ShapePacer::DueAt(std::int64_t index)
{
    if (!m_gaps) {
        const double position = static_cast<double>(index);
        return WithinEnd(position) ? m_shape.TimeOf(position) : LoadShape::Never;
    }
    if (index < m_released)
        return 0;
    return WithinEnd(m_nextPosition) ? m_shape.TimeOf(m_nextPosition) : LoadShape::Never;
}
