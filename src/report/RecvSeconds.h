#pragma once

#include <QJsonObject>

#include <cstdint>

class StatsFile;

// A receiver's counters at one instant, cumulative from the start except
// the open connections.
struct RecvCounters {
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;
    std::uint64_t stamped = 0;
    // Gaps below every stream's highest number (DeliveryLedger::LostSoFar).
    std::uint64_t lostSoFar = 0;
    std::uint64_t connections = 0;
};

// Turns counters read at each second's mark into one JSON line per second
// of --stats-file.
class RecvSeconds {
public:
    explicit RecvSeconds(StatsFile &file) : m_file(file) {}

    // What arrived since the previous call (or the start); nothing when no
    // time passed. full: elapsed is at (or just after) a second's mark.
    void Record(double elapsed, double epoch, const RecvCounters &counters, bool full = true);
    // The totals so far on a line of their own ("interim": true), so a
    // receiver that is killed leaves them behind; the next second's record
    // still counts from the previous one. Nothing when nothing changed.
    void RecordInterim(double elapsed, double epoch, const RecvCounters &counters);

private:
    StatsFile &m_file;
    RecvCounters m_previous;
    RecvCounters m_written;
    double m_previousElapsed = 0;
    std::int64_t m_records = 0;
};
