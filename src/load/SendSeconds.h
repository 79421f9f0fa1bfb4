#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// A sender's counters at one instant, cumulative from the start except
// connections. Several sending threads add theirs up.
struct SendCounters {
    std::int64_t sent = 0;
    std::int64_t failed = 0;
    // Messages a broken session may or may not have delivered (--reconnect).
    std::int64_t unknownFate = 0;
    // Datagrams and connections refused, message bytes handed over, and
    // sessions opened (reconnects too): as the summary adds them up.
    std::int64_t refused = 0;
    std::int64_t bytes = 0;
    std::int64_t opened = 0;
    // Open now (UDP: the socket).
    std::int64_t connections = 0;
    // Spent waiting inside sends for room in a full socket, over all sockets.
    double blockedSeconds = 0;
    // Now: bytes handed to stream sessions that their peers have not taken
    // yet, waiting here or in the system's buffers.
    std::int64_t queuedBytes = 0;
    // The messages the target rate asks for by now (PaceSchedule::TargetBy):
    // none without a target, infinite when as fast as possible.
    std::optional<double> target;
    // Processor time of each sending thread.
    std::vector<double> threadCpuSeconds;
};

// What a sender did between two instants, normally one second.
struct SendSecond {
    static constexpr double FullCpu = 0.95;
    static constexpr double Behind = 0.99;

    std::int64_t second = 0; // from 1
    double elapsed = 0;      // at its end, since the start
    double length = 0;       // seconds it covers
    double epoch = 0;        // wall clock at its end, seconds since 1970
    // Ended on a second's mark; the run's last record need not.
    bool full = true;
    // Messages the target rate asked for in it (infinite: as fast as possible).
    std::optional<double> targetMessages;
    std::int64_t sent = 0;
    std::int64_t failed = 0;
    std::int64_t unknownFate = 0;
    std::int64_t connections = 0;
    double blockedSeconds = 0;
    // The largest share of it that one sending thread spent on a processor.
    double busiestCpu = 0;

    double Rate() const { return static_cast<double>(sent) / length; }
    std::optional<double> TargetRate() const;
    // A core at its limit while behind the target: the sender itself held
    // the rate back, not the network or the receiver.
    bool SenderBound() const;
};

// The achieved rate over a run's full seconds.
struct RateSpread {
    // A run that reaches this share of its target reached it.
    static constexpr double Reached = 0.99;

    std::int64_t fullSeconds = 0;
    // Mean target rate; none without a target or when it is unlimited.
    std::optional<double> meanTarget;
    // The mean achieved rate over the mean target: with a finite target.
    std::optional<double> achievedRatio;
    // Standard deviation of the achieved rate about the target (the root
    // mean square of the differences; about its mean without a target), and
    // its ratio to the mean target (or mean rate); from two full seconds on.
    std::optional<double> stddev;
    std::optional<double> stddevRatio;
    std::int64_t senderBoundSeconds = 0;

    std::optional<bool> TargetReached() const
    {
        return achievedRatio ? std::optional<bool>(*achievedRatio >= Reached) : std::nullopt;
    }
};

// Turns counters read at each second's mark into per-second records, and
// keeps what the summary needs.
class SendSeconds {
public:
    // The record since the previous call (or the start); none when no time
    // passed. full: elapsed is at (or just after) a second's mark; a last
    // record that ends just short of one is full too.
    std::optional<SendSecond> Record(double elapsed, double epoch, const SendCounters &counters, bool full = true);
    RateSpread Spread() const;

private:
    SendCounters m_previous;
    double m_previousElapsed = 0;
    std::int64_t m_records = 0;
    // Over full seconds: the squares of the differences from the target,
    // Welford's running mean and sum of squares of the rates (for a run
    // without a target), and the sums of the targets and rates.
    std::int64_t m_full = 0;
    double m_targetSquares = 0;
    double m_mean = 0;
    double m_squares = 0;
    double m_targetSum = 0;
    double m_rateSum = 0;
    bool m_finiteTarget = false;
    std::int64_t m_senderBound = 0;
};
