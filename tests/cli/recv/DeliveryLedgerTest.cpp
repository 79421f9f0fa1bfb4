#include "cli/recv/DeliveryLedger.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <utility>
#include <vector>

namespace {
struct Arrival {
    std::uint64_t stream;
    std::uint64_t seq;
};

TEST(DeliveryLedger, CountsLossDuplicatesAndReorderingExactly)
{
    using Figures = std::array<std::uint64_t, 5>; // received, lost, duplicates, reordered, lost at the tail
    const std::tuple<const char *, std::vector<Arrival>, std::uint64_t, Figures> cases[] = {
        {"in order", {{0, 1}, {0, 2}, {0, 3}}, 0, {3, 0, 0, 0, 0}},
        {"a gap", {{0, 1}, {0, 2}, {0, 4}, {0, 5}}, 0, {4, 1, 0, 0, 0}},
        {"late, then no gap", {{0, 1}, {0, 3}, {0, 2}, {0, 4}}, 0, {4, 0, 0, 1, 0}},
        {"duplicates", {{0, 1}, {0, 2}, {0, 2}, {0, 3}, {0, 1}}, 0, {3, 0, 2, 0, 0}},
        {"late duplicate", {{0, 3}, {0, 1}, {0, 1}}, 0, {2, 1, 1, 1, 0}},
        {"lost at the tail", {{0, 1}, {0, 2}, {0, 3}}, 5, {3, 2, 0, 0, 2}},
        {"two streams, gap and tail", {{0, 1}, {1, 1}, {0, 2}, {1, 3}, {0, 3}}, 7, {5, 2, 0, 0, 1}},
        {"a stream that never came", {{0, 1}, {0, 2}, {0, 3}}, 6, {3, 3, 0, 0, 3}},
        {"more than expected", {{0, 1}, {0, 2}, {0, 3}}, 2, {3, 0, 0, 0, 0}},
        {"nothing", {}, 4, {0, 4, 0, 0, 4}},
    };
    for (const auto &[name, arrivals, expect, figures] : cases) {
        DeliveryLedger ledger;
        for (const Arrival &arrival : arrivals)
            ledger.Record({"run", arrival.stream, arrival.seq, 0}, -1);
        const LedgerReport report = ledger.Report(expect);
        const DeliveryFigures &totals = report.totals;
        EXPECT_EQ((Figures{totals.received, totals.lost, totals.duplicates, totals.reordered, report.tailLost}),
                  figures)
            << name;
        EXPECT_EQ(ledger.Received(), totals.received) << name;
        EXPECT_EQ(totals.latency.samples, 0u) << name;
    }
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

TEST(DeliveryLedger, StaysBoundedUnderHostileStamps)
{
    DeliveryLedger::Limits limits;
    limits.maxStreams = 2;
    limits.windowBits = 128;
    DeliveryLedger ledger(limits);
    ledger.Record({"r", 0, 1, 0}, -1);
    ledger.Record({"r", 0, 1000, 0}, -1); // slides the window past 1
    ledger.Record({"r", 0, 2, 0}, -1);    // too old to tell: late, not received
    ledger.Record({"r", 0, 1000, 0}, -1);
    ledger.Record({"r", 0, 9223372036854775807ull, 0}, -1);
    ledger.Record({"r", 1, 1, 0}, -1);
    ledger.Record({"r", 2, 1, 0}, -1); // a third stream: over the limit
    const LedgerReport report = ledger.Report();
    EXPECT_EQ(report.untracked, 1u);
    ASSERT_EQ(report.streams.size(), 2u);
    const DeliveryFigures &first = report.streams[0].figures;
    EXPECT_EQ(first.received, 3u);
    EXPECT_EQ(first.duplicates, 1u);
    EXPECT_EQ(first.reordered, 1u);
    EXPECT_EQ(first.lost, 9223372036854775807ull - 3);
}

TEST(SequenceSet, GrowsAndSlidesItsWindow)
{
    SequenceSet set(256);
    EXPECT_EQ(set.Insert(1), SequenceSet::Mark::New);
    EXPECT_EQ(set.Insert(1), SequenceSet::Mark::Seen);
    EXPECT_EQ(set.Insert(255), SequenceSet::Mark::New);
    EXPECT_EQ(set.Base(), 0u);
    EXPECT_EQ(set.Insert(300), SequenceSet::Mark::New); // slides by half the window
    EXPECT_EQ(set.Base(), 128u);
    EXPECT_EQ(set.Insert(1), SequenceSet::Mark::TooOld);
    EXPECT_EQ(set.Insert(255), SequenceSet::Mark::Seen);
    EXPECT_EQ(set.Insert(5000), SequenceSet::Mark::New);
    EXPECT_EQ(set.Insert(300), SequenceSet::Mark::TooOld);
    EXPECT_EQ(set.Insert(5000), SequenceSet::Mark::Seen);
    EXPECT_LE(set.MemoryBytes(), 64u);
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
