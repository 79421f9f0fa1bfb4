#include "common/Random.h"
#include "load/LoadPlan.h"
#include "load/UnknownFate.h"

#include <gtest/gtest.h>

namespace {
// Messages of 10, 20 and 30 bytes end at 10, 30 and 60: whatever ends after
// the acknowledged byte count is of unknown fate, one cut short included.
TEST(UnknownFate, CountsMessagesEndingAfterTheAcknowledgedBytes)
{
    const struct {
        std::uint64_t acknowledged;
        std::int64_t unknown;
    } cases[] = {{0, 3}, {9, 3}, {10, 2}, {29, 2}, {30, 1}, {59, 1}, {60, 0}, {1000, 0}};
    for (const auto &c : cases) {
        UnknownFate fate;
        for (const std::uint64_t bytes : {10, 20, 30})
            fate.Add(bytes);
        EXPECT_EQ(fate.After(c.acknowledged), c.unknown) << c.acknowledged;
        fate.Forget(c.acknowledged);
        EXPECT_EQ(fate.Held(), static_cast<std::size_t>(c.unknown)) << c.acknowledged;
        EXPECT_EQ(fate.After(c.acknowledged), c.unknown) << c.acknowledged;
    }
    UnknownFate fate;
    fate.Add(5);
    fate.Restart();
    fate.Add(7);
    EXPECT_EQ(fate.Written(), 7u);
    EXPECT_EQ(fate.After(6), 1);
}

// Every message, connection and unit of rate goes to exactly one thread; the
// first thread starts where a run of one does, the others elsewhere.
TEST(ThreadShares, SplitRateCountAndConnections)
{
    const struct {
        bool tcp;
        int threads;
        int connections;
        std::int64_t count;
        std::vector<std::int64_t> counts;
        std::vector<int> firsts;
    } cases[] = {
        {true, 3, 10, 7, {3, 2, 2}, {0, 4, 7}},
        {true, 2, 0, 0, {0, 0}, {0, 1}},
        {false, 4, 0, 2, {1, 1}, {0, 1}},
    };
    for (const auto &c : cases) {
        Options options;
        options.transport = c.tcp ? TransportKind::Tcp : TransportKind::Udp;
        options.threads = c.threads;
        options.connections = c.connections;
        options.count = c.count;
        options.pace = Pace::Rate;
        options.shape = LoadShape::Constant(900);
        const std::vector<ThreadShare> shares = MakeLoadPlan(options).shares;
        ASSERT_EQ(shares.size(), c.counts.size());
        int connections = 0;
        for (std::size_t i = 0; i < shares.size(); ++i) {
            EXPECT_EQ(shares[i].count, c.counts[i]);
            EXPECT_EQ(shares[i].first, c.firsts[i]);
            EXPECT_DOUBLE_EQ(shares[i].shape.RateAt(0), 900.0 / c.threads);
            connections += shares[i].connections;
        }
        if (c.tcp) {
            EXPECT_EQ(connections, ConnectionCount(options));
        }
        EXPECT_FALSE(shares[0].seed.has_value());
        EXPECT_EQ(shares[1].seed, ThreadRandomStart(FixedRandomStart, 1));
    }
    EXPECT_EQ(ThreadRandomStart(42, 0), 42u);
    EXPECT_NE(ThreadRandomStart(42, 1), ThreadRandomStart(42, 2));
    EXPECT_NE(ThreadRandomStart(42, 1), ThreadRandomStart(43, 1));
}
} // namespace
