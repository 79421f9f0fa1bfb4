#include "proof/DeliveryLedger.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <utility>
#include <vector>

namespace {
struct Arrival {
    std::uint64_t stream;
    std::uint64_t seq;
    std::int64_t sentUs = 0;
};

// A stream of 1,000 that lost 10, and one whose last 10 never came, each
// with two forged stamps of the highest numbers at message 100: the real
// loss, order and tail must stand.
std::vector<Arrival> ForgedAtHundred()
{
    std::vector<Arrival> arrivals;
    for (std::uint64_t seq = 1; seq <= 1000; ++seq) {
        for (std::uint64_t stream = 0; stream < 2 && seq == 100; ++stream)
            arrivals.insert(arrivals.end(), {{stream, CountCap - 1}, {stream, CountCap}});
        if (seq % 100 != 50)
            arrivals.push_back({0, seq});
        if (seq <= 990)
            arrivals.push_back({1, seq});
    }
    return arrivals;
}

TEST(DeliveryLedger, CountsLossDuplicatesAndReorderingExactly)
{
    // received, lost, duplicates, reordered, lost at the tail, suspect jumps
    using Figures = std::array<std::uint64_t, 6>;
    const std::tuple<const char *, std::vector<Arrival>, std::uint64_t, Figures> cases[] = {
        {"in order", {{0, 1}, {0, 2}, {0, 3}}, 0, {3, 0, 0, 0, 0, 0}},
        {"a gap", {{0, 1}, {0, 2}, {0, 4}, {0, 5}}, 0, {4, 1, 0, 0, 0, 0}},
        {"late, then no gap", {{0, 1}, {0, 3}, {0, 2}, {0, 4}}, 0, {4, 0, 0, 1, 0, 0}},
        {"duplicates", {{0, 1}, {0, 2}, {0, 2}, {0, 3}, {0, 1}}, 0, {3, 0, 2, 0, 0, 0}},
        {"late duplicate", {{0, 3}, {0, 1}, {0, 1}}, 0, {2, 1, 1, 1, 0, 0}},
        {"lost at the tail", {{0, 1}, {0, 2}, {0, 3}}, 5, {3, 2, 0, 0, 2, 0}},
        {"two streams, gap and tail", {{0, 1}, {1, 1}, {0, 2}, {1, 3}, {0, 3}}, 7, {5, 2, 0, 0, 1, 0}},
        {"a stream that never came", {{0, 1}, {0, 2}, {0, 3}}, 6, {3, 3, 0, 0, 3, 0}},
        {"more than expected", {{0, 1}, {0, 2}, {0, 3}}, 2, {3, 0, 0, 0, 0, 0}},
        {"nothing", {}, 4, {0, 4, 0, 0, 4, 0}},
        // Beyond the largest gap believed (10,000,000): forged numbers are
        // left out, also close ones; eight close ones a second later mean the
        // stream moved on (a late start), and all of them count.
        {"a gap at the limit", {{0, 1}, {0, 10'000'002}}, 0, {2, 10'000'000, 0, 0, 0, 0}},
        {"a suspect jump", {{0, 1}, {0, 10'000'003}, {0, 3}, {1, 1ull << 62}}, 0, {2, 1, 0, 0, 0, 2}},
        {"a forged close pair at message 100", ForgedAtHundred(), 2000, {1980, 20, 0, 0, 10, 4}},
        {"the stream moved on",
         {{0, 1},
          {0, 3},
          {0, 50'000'005, 1'000'000},
          {0, 50'000'002, 1'000'000},
          {0, 50'000'002, 1'000'000},
          {0, 50'000'004, 1'000'000},
          {0, 50'000'007, 1'000'000},
          {0, 50'000'008, 1'000'000},
          {0, 50'000'009, 1'000'000},
          {0, 50'000'010, 1'000'000},
          {0, 50'000'011, 1'000'000},
          {0, 50'000'012, 1'000'000}},
         0,
         {11, 3, 1, 0, 0, 0}},
    };
    for (const auto &[name, arrivals, expect, figures] : cases) {
        DeliveryLedger ledger;
        for (const Arrival &arrival : arrivals)
            ledger.Record({"run", arrival.stream, arrival.seq, arrival.sentUs}, -1);
        const LedgerReport report = ledger.Report(expect);
        const DeliveryFigures &totals = report.totals;
        EXPECT_EQ((Figures{totals.received, totals.lost, totals.duplicates, totals.reordered, report.tailLost,
                           totals.suspectJumps}),
                  figures)
            << name;
        EXPECT_EQ(ledger.Received(), totals.received) << name;
        EXPECT_EQ(ledger.LostSoFar(), totals.lost - report.tailLost) << name;
        EXPECT_EQ(totals.latency.samples, 0u) << name;
    }
}

// Without --expect, eight forged stamps close together are no evidence that
// a stream moved on when they are further above it than a sender goes in
// the time its stamps span, even when they claim a time from the future:
// suspect, not received. Honest streams that start high or jump within
// reach are believed.
TEST(DeliveryLedger, StampsFurtherThanASenderGoesAreSuspect)
{
    constexpr std::int64_t Start = 1'700'000'000'000'000;
    // Numbers first..last at 5,000 a second, 100 us on the way, then eight
    // from `jump` saying they were sent at jumpUs.
    const auto record = [](DeliveryLedger &ledger, std::uint64_t first, std::uint64_t last, std::uint64_t jump,
                           std::int64_t jumpUs) {
        std::int64_t sentUs = Start;
        for (std::uint64_t seq = first; seq <= last; ++seq, sentUs += 200)
            ledger.Record({"run", 1, seq, sentUs}, sentUs + 100);
        for (std::uint64_t seq = jump; seq < jump + 8 && jump != 0; ++seq)
            ledger.Record({"run", 1, seq, jumpUs}, sentUs + 100);
    };
    // received, lost, suspect jumps
    using Figures = std::array<std::uint64_t, 3>;
    const std::tuple<const char *, std::uint64_t, std::uint64_t, std::int64_t, Figures> cases[] = {
        {"further than a sender goes", 1000, 1ull << 50, Start + 200'000, {1000, 0, 8}},
        {"a forged time from the future", 1000, 1ull << 50, Start + 1'000'000'000'000'000, {1000, 0, 8}},
        {"a fast sender two seconds on", 100, 100'000'001, Start + 2'000'000, {108, 0, 0}},
    };
    for (const auto &[name, last, jump, jumpUs, figures] : cases) {
        DeliveryLedger ledger;
        record(ledger, 1, last, jump, jumpUs);
        const DeliveryFigures &totals = ledger.Report().totals;
        EXPECT_EQ((Figures{totals.received, totals.lost, totals.suspectJumps}), figures) << name;
    }
    // One believable number dated at the epoch does not stretch the reach.
    DeliveryLedger early;
    record(early, 1, 1000, 0, 0);
    early.Record({"run", 1, 1001, 0}, Start + 200'100);
    for (std::uint64_t seq = 1ull << 50; seq < (1ull << 50) + 8; ++seq)
        early.Record({"run", 1, seq, Start + 200'000}, Start + 200'100);
    EXPECT_EQ(early.Report().totals.suspectJumps, 8U);
    DeliveryLedger resumed;
    record(resumed, 1ull << 40, (1ull << 40) + 99, 0, 0);
    const LedgerReport report = resumed.Report();
    EXPECT_EQ((Figures{report.totals.received, report.totals.lost, report.streams[0].figures.suspectJumps}),
              (Figures{100, 0, 0}));
}

TEST(DeliveryLedger, ReportsEachStreamAndShardApart)
{
    DeliveryLedger ledger;
    const std::pair<std::string, std::uint64_t> streams[] = {
        {"b", StreamId(2, 5)}, {"a", StreamId(2, 0)}, {"a", StreamId(0, 1)}, {"b", StreamId(0, 1)}};
    for (const auto &[run, stream] : streams)
        for (std::uint64_t seq : {1, 2, 4})
            ledger.Record({run, stream, seq, 1000}, 1000 + static_cast<std::int64_t>(seq));
    ledger.Record({"b", StreamId(2, 5), 4, 1000}, 1000);
    const LedgerReport report = ledger.Report();
    ASSERT_EQ(report.streams.size(), 4u);
    std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> order;
    for (const StreamReport &stream : report.streams)
        order.emplace_back(stream.run, stream.stream, stream.shard);
    EXPECT_EQ(order, (std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>>{
                         {"a", 1, 0}, {"a", 2000000, 2}, {"b", 1, 0}, {"b", 2000005, 2}}));
    EXPECT_EQ(report.streams[3].figures.duplicates, 1u);
    EXPECT_EQ(report.streams[3].figures.lost, 1u);
    EXPECT_EQ(report.streams[3].highestSeq, 4u);
    ASSERT_EQ(report.shards.size(), 2u);
    EXPECT_EQ(report.shards[1].shard, 2u);
    EXPECT_EQ(report.shards[1].streams, 2u);
    EXPECT_EQ(report.shards[1].figures.received, 6u);
    EXPECT_EQ(report.shards[1].figures.lost, 2u);
    EXPECT_EQ(report.totals.received, 12u);
    EXPECT_EQ(report.totals.latency.samples, 12u);
    EXPECT_EQ(report.totals.latency.max, 4u);
    EXPECT_EQ(report.totals.latency.p50, 2u);
}

// Even with every gap believed, numbers a peer writes cost no memory and
// their sums stop at the cap instead of wrapping round to small numbers.
TEST(DeliveryLedger, StaysBoundedUnderHostileStamps)
{
    DeliveryLedger::Limits limits;
    limits.maxMemory = 4 * DeliveryLedger::StreamBytes() - 1; // --max-streams has its own test
    limits.windowBits = 4096;
    limits.maxGap = CountCap;
    DeliveryLedger ledger(limits);
    for (std::uint64_t seq : {1, 12, 12, 13, 5000})
        ledger.Record({"r", 0, seq, 0}, -1);
    ledger.Record({"r", 0, 2, 0}, -1); // fell out of the window: late, not received
    ledger.Record({"r", 1, CountCap, 0}, -1);
    ledger.Record({"r", 2, CountCap - 6, 0}, -1);
    ledger.Record({"r", 3, 1, 0}, -1); // a fourth stream: over the budget
    const LedgerReport report = ledger.Report();
    EXPECT_EQ(report.untracked, 1u);
    EXPECT_EQ(report.totals.lost, CountCap);
    EXPECT_EQ(ledger.LostSoFar(), CountCap);
    ASSERT_EQ(report.streams.size(), 3u);
    const StreamReport &real = report.streams[0];
    EXPECT_EQ(real.figures.received, 4u);
    EXPECT_EQ(real.figures.lost, 4996u);
    EXPECT_EQ(real.figures.duplicates, 1u);
    EXPECT_EQ(real.figures.reordered, 1u);
    EXPECT_EQ(real.gaps, (SequenceRuns{{905, 4999}})); // those below the window are not known
    EXPECT_LT(ledger.MemoryBytes(), 16384u);
}

TEST(SequenceSet, KeepsBlocksOnlyWhereNumbersCameWithinItsWindow)
{
    SequenceSet set(4096);
    EXPECT_EQ(set.Insert(1), SequenceSet::Mark::New);
    EXPECT_EQ(set.Insert(1), SequenceSet::Mark::Seen);
    for (std::uint64_t seq : {5, 6, 7, 3000})
        set.Insert(seq);
    EXPECT_EQ(set.Missing(1, 3000, 10), (SequenceRuns{{2, 4}, {8, 2999}}));
    EXPECT_EQ(set.Missing(2, 6, 1), (SequenceRuns{{2, 4}}));
    EXPECT_EQ(set.Insert(9223372036854775807ull), SequenceSet::Mark::New);
    EXPECT_EQ(set.Insert(3000), SequenceSet::Mark::TooOld);
    EXPECT_EQ(set.Floor(), 9223372036854775807ull - 4095);
    SequenceSet one;
    one.Insert(1);
    EXPECT_EQ(set.MemoryBytes(), one.MemoryBytes()); // the blocks below the window went
    set.ForgetUpTo(9223372036854775807ull);
    EXPECT_EQ(set.Insert(9223372036854775807ull), SequenceSet::Mark::TooOld);
    EXPECT_EQ(set.MemoryBytes(), 0u);
}

TEST(LatencyHistogram, BucketsRoundTripAndPercentilesStayClose)
{
    for (std::size_t i = 0; i < LatencyBuckets::Count; ++i) {
        EXPECT_EQ(LatencyBuckets::IndexOf(LatencyBuckets::ValueOf(i)), i);
        if (i > 0) {
            EXPECT_GT(LatencyBuckets::ValueOf(i), LatencyBuckets::ValueOf(i - 1));
        }
    }
    EXPECT_EQ(LatencyBuckets::IndexOf(~std::uint64_t{0}), LatencyBuckets::Count - 1);
    LatencyHistogram<std::uint32_t> histogram;
    for (std::uint64_t us = 1; us <= 10000; ++us)
        histogram.Add(us);
    const LatencyFigures figures = histogram.Figures();
    EXPECT_NEAR(static_cast<double>(figures.p50), 5000, 5000 * 0.0625);
    EXPECT_NEAR(static_cast<double>(figures.p99), 9900, 9900 * 0.0625);
    EXPECT_EQ(figures.max, 10000u);
    EXPECT_EQ(figures.samples, 10000u);
    LatencyHistogram<std::uint64_t> sum;
    sum.Merge(histogram);
    sum.Add(1u << 30);
    EXPECT_EQ(sum.Figures().max, 1u << 30);
    EXPECT_EQ(sum.Figures().p50, figures.p50);
}
} // namespace

// The counts a scraper reads each second agree with the ledger's report.
TEST(DeliveryLedger, RunningTotalsMatchItsReport)
{
    DeliveryLedger ledger;
    for (const std::uint64_t seq : {1, 3, 3, 2, 5, 5, 4})
        ledger.Record({"run", 1, seq, 100}, 400);
    const LedgerReport report = ledger.Report();
    EXPECT_EQ(ledger.DuplicatesSoFar(), report.totals.duplicates);
    EXPECT_EQ(ledger.ReorderedSoFar(), report.totals.reordered);
    EXPECT_EQ(ledger.LatencySoFar().Samples(), report.totals.latency.samples);
    EXPECT_EQ(ledger.LatencySumUs(), 300u * 5);
}
