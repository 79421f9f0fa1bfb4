#include "probe/SoakJudge.h"

#include <gtest/gtest.h>

namespace {
TEST(SoakJudge, HoldsLeaksOrDegrades)
{
    struct Case {
        SoakFigures figures;
        std::string verdict;
        std::string reasonHolds;
    };
    const SoakLimits limits{50, 0.001};
    const Case cases[] = {
        {{10'000, 10'000, 0, 3600, 12.0, 2.0, 2.5}, "holds", "memory 12.0 MB/h"},
        {{10'000, 10'000, 0, 3600, std::nullopt, std::nullopt, std::nullopt}, "holds", "memory not measured"},
        {{10'000, 10'000, 0, 3600, 51.0, 2.0, 2.5}, "leaks", "grows 51.0 MB/h, above --max-rss-growth 50 MB/h"},
        {{10'000, 10'000, 0, 30, 51.0, 2.0, 2.5}, "leaks", "over 30 s only"},
        // Both found: the leak is the verdict, the p99 is in the reason too.
        {{10'000, 10'000, 0, 3600, 400.0, 2.0, 40.0}, "leaks", "more than twice"},
        {{10'000, 10'000, 0, 3600, 1.0, 10.0, 25.0}, "degrades", "p99 10 ms in the first tenth, 25 ms in the last"},
        // Twice as long but by less than a busy machine's jitter.
        {{10'000, 10'000, 0, 3600, 1.0, 0.3, 1.8}, "holds", "p99 0.3 ms"},
        {{10'000, 10'000, 11, 3600, 1.0, 2.0, 2.0}, "degrades", "lost 11 of 10,000 (0.11%)"},
        {{10'000, 10'000, 10, 3600, 1.0, 2.0, 2.0}, "holds", "lost 10 of 10,000"},
        {{10'000, 9'000, 0, 3600, 1.0, 2.0, 2.0}, "degrades", "sent 9,000 of the 10,000"},
    };
    for (const Case &c : cases) {
        const SoakJudgement judged = JudgeSoak(c.figures, limits);
        EXPECT_EQ(judged.verdict, c.verdict) << judged.reason;
        EXPECT_NE(judged.reason.find(c.reasonHolds), std::string::npos) << judged.reason;
    }
}

TEST(SoakJudge, MemorySlopeIsLeastSquaresSummedOverProcesses)
{
    constexpr std::int64_t Mb = 1024 * 1024;
    // Process 1 grows 1 MB a second around a jitter of 1 MB; process 2 is flat.
    std::vector<WatchSample> samples;
    for (int s = 0; s < 10; ++s) {
        samples.push_back({100.0 + s, 1, "grows", 0, (50 + s + (s % 2 ? 1 : -1)) * Mb});
        samples.push_back({100.5 + s, 2, "flat", 0, 80 * Mb});
    }
    // The fitted line, not the ends: (60 - 49) / 9 would say 1.22 MB a second.
    EXPECT_NEAR(*RssSlopeMbPerHour(samples), 3600 * (1 + 5 / 82.5), 0.01);
    EXPECT_FALSE(RssSlopeMbPerHour({samples.front()}));
}
} // namespace
