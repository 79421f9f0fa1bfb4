#pragma once

#include "proof/ReceiveTally.h"

#include <QJsonObject>

#include <cstdint>
#include <ostream>

class StatsFile;
struct RecvSummary;

// Where a receiver's figures go besides its summary: the stats file, the
// progress line, the metrics. Called on the receiving thread, so each
// returns at once.
class RecvSink {
public:
    virtual ~RecvSink() = default;
    // Listening, before anything was taken.
    virtual void Started(const ReceiveTally &) {}
    // At each second's mark (full), and once more when the listening ends
    // (not full).
    virtual void Second(double elapsed, const ReceiveTally &tally, bool full) = 0;
    // Between the marks, a tenth of a second apart.
    virtual void Between(double, const ReceiveTally &) {}
    // The run's end, whatever ended it.
    virtual void Ended(const RecvSummary &) {}
};

// Turns the tally read at each second's mark into one JSON line per second
// of --stats-file.
class RecvSeconds final : public RecvSink {
public:
    explicit RecvSeconds(StatsFile &file) : m_file(file) {}

    // What arrived since the previous call (or the start); nothing when no
    // time passed. full: elapsed is at (or just after) a second's mark.
    void Second(double elapsed, const ReceiveTally &tally, bool full) override;
    // The totals so far on a line of their own ("interim": true), so a
    // receiver that is killed leaves them behind; the next second's record
    // still counts from the previous one. Nothing when nothing changed.
    void Between(double elapsed, const ReceiveTally &tally) override;

private:
    StatsFile &m_file;
    ReceiveTally m_previous;
    ReceiveTally m_written;
    double m_previousElapsed = 0;
    std::int64_t m_records = 0;
};

// The line each second on standard error: messages, lost so far, the rate.
class RecvProgress final : public RecvSink {
public:
    explicit RecvProgress(std::ostream &out) : m_out(out) {}
    void Second(double elapsed, const ReceiveTally &tally, bool full) override;

private:
    std::ostream &m_out;
    std::uint64_t m_messages = 0;
};
