#pragma once

#include "load/ReplayLines.h"

#include <cstdint>
#include <limits>
#include <optional>

// When the lines of a replay are due: each at its time since the file's
// first divided by the speed, on the sender's clock from the start of
// sending (at speed 0 all at once), no gap longer than the lane allows. The file is read ahead one line at a
// time, so its size costs nothing held.
class ReplayPacer {
public:
    static constexpr std::int64_t NoLimit = std::numeric_limits<std::int64_t>::max();

    // maxGap: no gap between lines waits longer, in seconds after the
    // speed; 0: no limit.
    ReplayPacer(ReplayLane lane, double speed, double maxGap);

    // How many lines are due by this many seconds; calls must not go back
    // in time. Each call reads a bounded number of lines, so one that is far
    // behind (or at speed 0) catches up over several.
    std::int64_t DueBy(double seconds);
    // Seconds at which line index (from 0) is due: 0 for one DueBy counted,
    // the next line's time for a later one, Never after the last.
    double DueAt(std::int64_t index) const;
    // The lines counted due so far.
    std::int64_t Counted() const { return m_counted; }
    // How many lines there are, once the end was read; NoLimit before.
    std::int64_t Total() const { return m_next ? NoLimit : m_counted; }
    bool AllAtOnce() const { return m_speed <= 0; }
    // Of the lines read so far (those of other threads and shards too).
    std::uint64_t GapsCut() const { return m_lines.GapsCut(); }
    std::uint64_t WentBack() const { return m_lines.WentBack(); }
    std::uint64_t JoinsSplit() const { return m_lines.JoinsSplit(); }

private:
    void ReadNext();

    ReplayLines m_lines;
    double m_speed;
    std::int64_t m_counted = 0;
    // When the next line not yet counted is due; none after the last.
    std::optional<double> m_next;
    bool m_failed = false;
};
