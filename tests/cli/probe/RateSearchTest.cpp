#include "cli/probe/RateSearch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
// A collector that takes up to capacity messages a second whole, loses what
// is beyond it, and queues (p99 growing) as it nears it; the sender reaches
// senderLimit at most.
struct SimulatedCollector {
    double capacity = 0;
    double senderLimit = 1e12;
    StepLimits limits;

    StepVerdict operator()(double rate) const
    {
        StepOutcome outcome;
        const double offered = std::min(rate, senderLimit);
        outcome.senderShort = offered < rate;
        outcome.senderBound = outcome.senderShort;
        outcome.sent = std::llround(offered * 10);
        outcome.lost = offered > capacity ? std::llround((offered - capacity) * 10) : 0;
        outcome.p99Ms = 1 + 100 * offered / capacity;
        return JudgeStep(outcome, limits);
    }
};

TEST(RateSearch, DoublesThenBisectsToWithinThePrecision)
{
    struct Case {
        double capacity;
        double start;
        double precision;
        std::optional<double> maxP99;
        std::string limitedBy;
        double sustainable; // the collector's real limit
    };
    const Case cases[] = {
        {50'000, 1000, 0.05, std::nullopt, "loss", 50'000},
        {50'000, 1000, 0.01, std::nullopt, "loss", 50'000},
        // p99 = 1 + 100 r / C <= 51: half the capacity, before any loss.
        {80'000, 1000, 0.05, 51, "latency", 40'000},
        {700, 1000, 0.05, std::nullopt, "loss", 700},
    };
    for (const Case &c : cases) {
        SimulatedCollector collector{c.capacity, 1e12, {0, c.maxP99}};
        RateSearch search({c.start, std::nullopt, c.precision});
        const std::vector<double> rates = SearchRates(search, collector);
        SCOPED_TRACE(c.capacity);
        // Doubling from the start while it holds.
        for (std::size_t i = 0; i < rates.size() && rates[i] <= c.sustainable; ++i)
            EXPECT_EQ(rates[i], c.start * std::pow(2, i));
        EXPECT_EQ(search.LimitedBy(), c.limitedBy);
        EXPECT_LE(search.MaxSustainable(), c.sustainable);
        EXPECT_GE(search.MaxSustainable(), c.sustainable * (1 - c.precision));
        // Bisection halves the interval each step, so it takes about log2(1/precision) steps.
        EXPECT_LE(rates.size(), std::log2(c.sustainable / c.start) + std::log2(1 / c.precision) + 3);
    }
}

TEST(RateSearch, StopsAtTheSenderOrTheMaxRate)
{
    // The sender reaches 10,000 a second, the collector more: the search
    // ends at the first step the sender could not run, with the last held.
    SimulatedCollector senderBound{1e9, 10'000, {}};
    RateSearch bySender({1000, std::nullopt, 0.05});
    EXPECT_EQ(SearchRates(bySender, senderBound), (std::vector<double>{1000, 2000, 4000, 8000, 16000}));
    EXPECT_EQ(bySender.LimitedBy(), "sender");
    EXPECT_EQ(bySender.MaxSustainable(), 8000);

    // The largest rate allowed is tried itself, not only the doublings below it.
    SimulatedCollector roomy{1e9, 1e12, {}};
    RateSearch byMax({1000, 5000, 0.05});
    EXPECT_EQ(SearchRates(byMax, roomy), (std::vector<double>{1000, 2000, 4000, 5000}));
    EXPECT_EQ(byMax.LimitedBy(), "max-rate");
    EXPECT_EQ(byMax.MaxSustainable(), 5000);

    // A collector that loses even the start rate bisects below it; one that
    // takes nothing ends at 0 within a few steps.
    SimulatedCollector none{0.001, 1e12, {}};
    RateSearch nothing({1000, std::nullopt, 0.05});
    EXPECT_LE(SearchRates(nothing, none).size(), 12u);
    EXPECT_EQ(nothing.MaxSustainable(), 0);
    EXPECT_EQ(nothing.LimitedBy(), "loss");
}

TEST(RateSearch, JudgesLossLatencyAndPushBack)
{
    const StepLimits limits{0.01, 5.0};
    const std::pair<StepOutcome, StepVerdict> cases[] = {
        {{1000, 10, 2.0}, StepVerdict::Holds},
        {{1000, 11, 2.0}, StepVerdict::Loss},
        {{0, 0, std::nullopt}, StepVerdict::Loss},
        {{1000, 0, 5.5}, StepVerdict::Latency},
        {{1000, 0, std::nullopt}, StepVerdict::Latency},
        // Held back by the collector (over a stream only), or short on its own.
        {{1000, 0, 1.0, true, false}, StepVerdict::Latency},
        {{1000, 0, 1.0, true, false, false}, StepVerdict::Holds},
        {{1000, 500, 1.0, true, true}, StepVerdict::Sender},
    };
    for (const auto &[outcome, verdict] : cases)
        EXPECT_EQ(JudgeStep(outcome, limits), verdict) << outcome.sent << " " << outcome.lost;
}
} // namespace
