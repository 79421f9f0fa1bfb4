#pragma once

#include "cli/send/CommandLine.h"

#include <cstdint>
#include <limits>

// When each message of a run is due, counted from the start of sending. Due
// times are fixed in advance rather than measured from the previous send, so
// a late wake-up is caught up and the rate holds over any stretch of time.
class PaceSchedule {
public:
    static constexpr std::int64_t NoLimit = std::numeric_limits<std::int64_t>::max();

    explicit PaceSchedule(const Options &options);

    // How many messages should have gone out by this many seconds.
    std::int64_t DueBy(double seconds) const;
    // Seconds at which message number index (from 0) is due.
    double DueAt(std::int64_t index) const;
    // True when no message after index-1 will ever be due (only --once ends by itself).
    bool Finished(std::int64_t sent) const { return sent >= m_total; }

private:
    double m_period = 0;        // seconds between ticks; 0: no waiting
    std::int64_t m_perTick = 1; // messages sent together at each tick
    std::int64_t m_total = NoLimit;
};
