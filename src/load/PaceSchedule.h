#pragma once

#include "load/LoadPlan.h"
#include "load/ReplayPacer.h"
#include "load/ShapePacer.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>

// When each message of a run is due, counted from the start of sending. Due
// times are fixed in advance rather than measured from the previous send, so
// a late wake-up is caught up and the rate holds over any stretch of time.
class PaceSchedule {
public:
    static constexpr std::int64_t NoLimit = std::numeric_limits<std::int64_t>::max();

    // The run's pace at one thread's share of it.
    PaceSchedule(const LoadPlan &plan, const ThreadShare &share);

    // How many messages should have gone out by this many seconds; calls
    // must not go back in time.
    std::int64_t DueBy(double seconds);
    // Seconds at which message number index (from 0) is due (see ShapePacer).
    double DueAt(std::int64_t index);
    // How many messages were due by this earlier time, as far as the calls
    // to DueBy tell (they are remembered a millisecond apart, so it may be
    // a few less); calls must not go back in time. None for a run whose
    // messages have no times (--unlimited, --once).
    std::int64_t DueBefore(double seconds);
    // True when no message after index-1 will ever be due (--once, and a
    // replay at the end of its file, end by themselves).
    bool Finished(std::int64_t sent) const { return sent >= m_total || (m_replay && sent >= m_replay->Total()); }
    // The run ended with the end of its replayed file, not by its count.
    bool ReplayEnded(std::int64_t sent) const { return m_replay && sent >= m_replay->Total() && sent < m_total; }
    // The messages the target rate asks for by then: the load shape's
    // integral, infinite for --unlimited, none for the window's send options.
    std::optional<double> TargetBy(double seconds) const;
    // A replay's gaps cut to --max-gap, and its lines that went back in time.
    std::uint64_t ReplayGapsCut() const { return m_replay ? m_replay->GapsCut() : 0; }
    std::uint64_t ReplayWentBack() const { return m_replay ? m_replay->WentBack() : 0; }
    std::uint64_t ReplayJoinsSplit() const { return m_replay ? m_replay->JoinsSplit() : 0; }
    // When the load shape ends (--steps alone); LoadShape::Never otherwise.
    double EndSeconds() const { return m_shaped ? m_shaped->EndSeconds() : LoadShape::Never; }
    // A --rate with --duration and no smaller --count: its count is what
    // falls due before the duration ends, sent in full even when the
    // sessions took some of that time to open.
    bool EndsByDuration() const { return m_byDuration; }
    std::int64_t Total() const { return m_total; }

private:
    std::int64_t DueByTime(double seconds);

    struct Reading {
        double seconds = 0;
        std::int64_t due = 0;
    };

    std::optional<ShapePacer> m_shaped;
    std::optional<ReplayPacer> m_replay;
    // Recent DueBy answers, oldest first.
    std::deque<Reading> m_readings;
    bool m_unlimited = false;
    double m_period = 0;        // seconds between ticks; 0: no waiting
    std::int64_t m_perTick = 1; // messages sent together at each tick
    std::int64_t m_total = NoLimit;
    bool m_byDuration = false;
};
