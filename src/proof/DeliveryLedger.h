#pragma once

#include "engine/Stamp.h"
#include "proof/LatencyHistogram.h"
#include "proof/SequenceSet.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Sums of what peers wrote stop here instead of wrapping round to small numbers.
inline constexpr std::uint64_t CountCap = 9223372036854775807ull;
inline std::uint64_t CappedSum(std::uint64_t a, std::uint64_t b)
{
    return a >= CountCap || b >= CountCap - a ? CountCap : a + b;
}

// What arrived of a set of stamped messages.
//   received      distinct messages (a duplicate is not received twice)
//   lost          sequence numbers below the highest one seen that never
//                 came; for the totals also the tail shortfall against --expect
//   duplicates    arrivals of a sequence number already received
//   reordered     first arrivals of a number below the highest one seen then
//   suspectJumps  arrivals beyond what their stream can have reached (see
//                 DeliveryLedger), or more than the largest gap believed
//                 above its highest number that it did not go on from: not
//                 received, and the gap not lost
//   untimely      arrivals received no later than their stamp says they were
//                 sent: a stamp rewritten or a clock set back (their latency
//                 counts as 0)
struct DeliveryFigures {
    std::uint64_t received = 0;
    std::uint64_t lost = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t reordered = 0;
    std::uint64_t suspectJumps = 0;
    std::uint64_t untimely = 0;
    LatencyFigures latency;
};

using SequenceRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

struct StreamReport {
    std::string run;
    std::uint64_t stream = 0;
    std::uint64_t shard = 0;
    std::uint64_t highestSeq = 0;
    DeliveryFigures figures;
    // The first runs of numbers lost, when the stream lost any.
    SequenceRuns gaps;
};

struct ShardReport {
    std::uint64_t shard = 0;
    std::uint64_t streams = 0;
    DeliveryFigures figures;
};

struct LedgerReport {
    DeliveryFigures totals;
    // Of totals.lost: messages expected beyond every stream's highest
    // number, which no stream can be blamed for.
    std::uint64_t tailLost = 0;
    // Stamps of streams beyond the limits (maxStreams, maxMemory), counted
    // but not checked.
    std::uint64_t untracked = 0;
    std::vector<StreamReport> streams; // by run, then stream
    std::vector<ShardReport> shards;   // by shard
};

// Keeps per (run, stream) what arrived. Recording a stamp allocates only
// when a stream is new or a number falls in a block of numbers not seen yet.
//
// A number more than maxGap above its stream's highest is a suspect jump (a
// forged or broken stamp): counted, but neither received nor making the
// numbers it skipped lost. Only when JumpProof numbers of a JumpWindow from
// there came did the stream really move on (a receiver that joined late):
// the numbers up to the jump are given up, the jump's arrivals count as
// received, and the stream goes on from there. A few forged numbers close
// together so leave the real stream's figures standing.
//
// Nor is a number beyond what its stream can have reached evidence that it
// moved: such a stamp is suspect at once and counts towards no jump. Numbers
// count from 1 within a stream, so none can pass the messages expected over
// all streams (maxSeq). And a sender goes no faster than MaxRatePerUs: a jump
// is out of reach when it is more than that rate over the time since the
// earliest stamp believed (by the stamps' own clock, so it does not matter
// how late they came), plus maxGap, above the lowest. A stamp cannot be
// sent later than it arrived, give or take MaxClockSkewUs, so a forged
// time from the future buys no reach while messages come live.
//
// Tail loss: a stream's last messages leave no gap when they are lost, so
// without knowing how many each stream sent they cannot be seen per stream.
// Given the number of messages expected over all streams, the shortfall
// against the sum of every stream's highest number is lost too; it goes to
// the totals (and to tailLost), not to any stream or shard.
class DeliveryLedger {
public:
    static constexpr std::size_t GapsPerStream = 10;
    static constexpr std::uint64_t JumpWindow = 64;
    static constexpr int JumpProof = 8;
    // Faster than a sender goes by two orders of magnitude and more.
    static constexpr std::uint64_t MaxRatePerUs = 100;
    static constexpr std::int64_t MaxClockSkewUs = 3'600'000'000;
    struct Limits {
        std::size_t maxStreams = 100000;
        // What the streams may take together, each at StreamBytes().
        std::size_t maxMemory = SIZE_MAX;
        std::uint64_t windowBits = SequenceSet::DefaultWindowBits;
        std::uint64_t maxGap = 10'000'000;
        // The messages expected over all streams; 0 for no bound.
        std::uint64_t maxSeq = 0;
    };

    DeliveryLedger() : DeliveryLedger(Limits{}) {}
    explicit DeliveryLedger(const Limits &limits) : m_limits(limits) {}

    // receivedUs < 0: no receive time (a file), so no latency.
    void Record(const Stamp &stamp, std::int64_t receivedUs);
    // Distinct messages over all streams.
    std::uint64_t Received() const { return m_received; }
    std::size_t Streams() const { return m_records.size(); }
    // The gaps below every stream's highest number now, cheap to ask each second.
    std::uint64_t LostSoFar() const { return m_lostSoFar; }
    // Over all streams so far, as cheap; the latencies' sum in microseconds.
    std::uint64_t DuplicatesSoFar() const { return m_duplicates; }
    std::uint64_t ReorderedSoFar() const { return m_reordered; }
    const LatencyHistogram<std::uint64_t> &LatencySoFar() const { return m_latency; }
    std::uint64_t LatencySumUs() const { return m_latencySumUs; }
    // expect 0: nothing expected beyond what the streams show.
    LedgerReport Report(std::uint64_t expect = 0) const;
    // Each stream's counts as Report has them, without gaps and latency, in
    // the order the streams came: cheap enough to ask each second.
    std::vector<StreamReport> StreamCounts() const;
    // One run's streams together, latency merged: what a probe step judges.
    // expect: the messages the run sent, whose shortfall against its streams'
    // highest numbers is lost too (0: nothing beyond what the streams show).
    DeliveryFigures RunFigures(std::string_view run, std::uint64_t expect = 0) const
    {
        return RunsFigures({std::string(run)}, expect);
    }
    // Several runs' streams together, as a soak's minute of runs.
    DeliveryFigures RunsFigures(const std::vector<std::string> &runs, std::uint64_t expect = 0) const;
    // One run's latencies, its streams together.
    LatencyHistogram<std::uint64_t> RunLatency(std::string_view run) const;
    std::size_t MemoryBytes() const;
    // The most a new stream takes before numbers far apart arrive: its
    // record, index entry, first block of numbers and latency histogram.
    static std::size_t StreamBytes();

private:
    struct Key {
        std::uint64_t stream = 0;
        std::uint8_t runLength = 0;
        char run[StampFormat::MaxRunLength] = {};
        bool operator==(const Key &other) const;
    };
    struct KeyHash {
        std::size_t operator()(const Key &key) const;
    };
    struct StreamState {
        Key key;
        std::uint64_t received = 0;
        std::uint64_t duplicates = 0;
        std::uint64_t reordered = 0;
        std::uint64_t suspectJumps = 0;
        std::uint64_t untimely = 0;
        std::uint64_t highest = 0;
        // Numbers up to base were given up when the stream jumped; lostBefore
        // is what the stream had lost below them, receivedAbove what arrived
        // above them.
        std::uint64_t base = 0;
        std::uint64_t lostBefore = 0;
        std::uint64_t receivedAbove = 0;
        // Suspect numbers close together, not believed yet: the lowest (0
        // for none), which of the JumpWindow numbers from it came, and how
        // many arrivals they had.
        std::uint64_t jumpLow = 0;
        std::uint64_t jumpSeen = 0;
        std::uint64_t jumpArrivals = 0;
        // What the stream's reach counts from: its lowest number believed (0
        // for none yet) and the earliest time a believed stamp carried.
        std::uint64_t lowest = 0;
        std::int64_t earliestSentUs = INT64_MAX;
        SequenceSet seen;
        // Made at the first latency, so streams of forged stamps stay small.
        std::unique_ptr<LatencyHistogram<std::uint32_t>> latency;

        std::uint64_t Lost() const { return lostBefore + (highest - base) - receivedAbove; }
    };

    static StreamReport Counts(const StreamState &record);
    StreamState *Find(const Stamp &stamp);
    // False when the number is a suspect jump, counted and left out.
    bool Believable(StreamState &record, const Stamp &stamp, std::int64_t receivedUs);
    bool WithinReach(const StreamState &record, const Stamp &stamp, std::int64_t receivedUs) const;
    // receivedUs < 0: no latency.
    void Accept(StreamState &record, std::uint64_t seq, std::int64_t sentUs, std::int64_t receivedUs);

    Limits m_limits;
    std::unordered_map<Key, std::size_t, KeyHash> m_index;
    std::vector<StreamState> m_records;
    std::size_t m_last = 0;
    std::uint64_t m_received = 0;
    std::uint64_t m_lostSoFar = 0;
    std::uint64_t m_untracked = 0;
    std::uint64_t m_duplicates = 0;
    std::uint64_t m_reordered = 0;
    LatencyHistogram<std::uint64_t> m_latency;
    std::uint64_t m_latencySumUs = 0;
};
