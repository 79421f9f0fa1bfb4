#pragma once

#include "cli/recv/LatencyHistogram.h"
#include "cli/recv/SequenceSet.h"
#include "engine/Stamp.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// What arrived of a set of stamped messages.
//   received    distinct messages (a duplicate is not received twice)
//   lost        sequence numbers below the highest one seen that never came;
//               for the totals also the tail shortfall against --expect
//   duplicates  arrivals of a sequence number already received
//   reordered   first arrivals of a number below the highest one seen then
struct DeliveryFigures {
    std::uint64_t received = 0;
    std::uint64_t lost = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t reordered = 0;
    LatencyFigures latency;
};

struct StreamReport {
    std::string run;
    std::uint64_t stream = 0;
    std::uint64_t shard = 0;
    std::uint64_t highestSeq = 0;
    DeliveryFigures figures;
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
    // Stamps of streams beyond the limit, counted but not checked.
    std::uint64_t untracked = 0;
    std::vector<StreamReport> streams; // by run, then stream
    std::vector<ShardReport> shards;   // by shard
};

// Keeps per (run, stream) what arrived. Recording a stamp allocates only
// when a stream is new or its bitmap doubles.
//
// Tail loss: a stream's last messages leave no gap when they are lost, so
// without knowing how many each stream sent they cannot be seen per stream.
// Given the number of messages expected over all streams, the shortfall
// against the sum of every stream's highest number is lost too; it goes to
// the totals (and to tailLost), not to any stream or shard.
class DeliveryLedger {
public:
    struct Limits {
        std::size_t maxStreams = 100000;
        std::uint64_t windowBits = SequenceSet::DefaultWindowBits;
    };

    DeliveryLedger() : DeliveryLedger(Limits{}) {}
    explicit DeliveryLedger(const Limits &limits) : m_limits(limits) {}

    // receivedUs < 0: no receive time (a file), so no latency.
    void Record(const Stamp &stamp, std::int64_t receivedUs);
    // Distinct messages over all streams.
    std::uint64_t Received() const { return m_received; }
    std::size_t Streams() const { return m_records.size(); }
    // The gaps below every stream's highest number now, cheap to ask each second.
    std::uint64_t LostSoFar() const { return m_highestSum - m_received; }
    // expect 0: nothing expected beyond what the streams show.
    LedgerReport Report(std::uint64_t expect = 0) const;

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
        std::uint64_t highest = 0;
        SequenceSet seen;
        LatencyHistogram<std::uint32_t> latency;
    };

    StreamState *Find(const Stamp &stamp);

    Limits m_limits;
    std::unordered_map<Key, std::size_t, KeyHash> m_index;
    std::vector<StreamState> m_records;
    std::size_t m_last = 0;
    std::uint64_t m_received = 0;
    std::uint64_t m_highestSum = 0;
    std::uint64_t m_untracked = 0;
};
