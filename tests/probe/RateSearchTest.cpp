#include "probe/RateSearch.h"
#include "probe/StepNoise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {
// A collector that takes up to capacity messages a second whole, loses what
// is beyond it, and queues (p99 growing) as it nears it; the sender reaches
// senderLimit at most. From step changeAt on its capacity is changedTo.
struct SimulatedCollector {
    double capacity = 0;
    double senderLimit = 1e12;
    StepLimits limits;
    int changeAt = 0;
    double changedTo = 0;
    mutable int steps = 0;

    StepReport operator()(double rate) const
    {
        const double c = changeAt > 0 && ++steps >= changeAt ? changedTo : capacity;
        StepOutcome outcome;
        const double offered = std::min(rate, senderLimit);
        outcome.senderShort = offered < rate;
        outcome.senderBound = outcome.senderShort;
        outcome.sent = std::llround(offered * 10);
        outcome.lost = offered > c ? std::llround((offered - c) * 10) : 0;
        outcome.p99Ms = 1 + 100 * offered / c;
        return {JudgeStep(outcome, limits).verdict, outcome.p99Ms};
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

TEST(RateSearch, StopsAtTheSenderTheMaxRateOrALatencyFloor)
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

    // A collector that adds 50 ms to everything never gets under 20 ms: the
    // step at half the rate had the same p99, so bisecting on is no use.
    RateSearch floor({1000, std::nullopt, 0.05, 1});
    double p99 = 50;
    EXPECT_EQ(SearchRates(floor, [&p99](double) { return StepReport(StepVerdict::Latency, p99 += 3); }),
              (std::vector<double>{1000, 500}));
    EXPECT_EQ(floor.LimitedBy(), "latency-floor");
    EXPECT_EQ(floor.MaxSustainable(), 0);
    // A busy moment in the step at half the rate: the floor shows at a quarter.
    RateSearch noisy({1000, std::nullopt, 0.05, 1});
    const std::map<double, double> p99s = {{1000, 52}, {500, 76}, {250, 52}, {125, 52}};
    EXPECT_EQ(SearchRates(noisy, [&p99s](double rate) { return StepReport(StepVerdict::Latency, p99s.at(rate)); }),
              (std::vector<double>{1000, 500, 250}));
    EXPECT_EQ(noisy.LimitedBy(), "latency-floor");
}

TEST(RateSearch, ConfirmsTheBoundaryAndSearchesOnWhenARepeatDisagrees)
{
    // Steady: the rate found and the lowest that failed run once more each.
    SimulatedCollector steady{5000, 1e12, {}};
    RateSearch confirmed({1000, std::nullopt, 0.05, 1});
    const std::vector<double> rates = SearchRates(confirmed, steady);
    EXPECT_EQ(rates.end()[-2], confirmed.MaxSustainable());
    EXPECT_GT(rates.end()[-1], confirmed.MaxSustainable());
    EXPECT_TRUE(confirmed.Confirmed());

    // The collector slows to 4,000 once the search is done: the repeat of
    // the rate found fails, and the search goes on down from there.
    SimulatedCollector slowing{5000, 1e12, {}, 9, 4000};
    RateSearch resumed({1000, std::nullopt, 0.05, 1});
    SearchRates(resumed, slowing);
    EXPECT_LE(resumed.MaxSustainable(), 4000);
    EXPECT_GE(resumed.MaxSustainable(), 4000 * 0.95);
    EXPECT_TRUE(resumed.Confirmed());

    // A collector whose every repeat says the opposite is never confirmed,
    // and the search ends all the same.
    std::map<double, bool> held;
    RateSearch flaky({1000, std::nullopt, 0.05, 1});
    const auto flipping = [&held](double rate) {
        const auto [it, first] = held.emplace(rate, rate < 6000);
        it->second = first ? it->second : !it->second;
        return it->second ? StepVerdict::Holds : StepVerdict::Loss;
    };
    EXPECT_LT(SearchRates(flaky, flipping).size(), 40u);
    EXPECT_FALSE(flaky.Confirmed());
    // A repeat the sender could not run leaves the boundary as found.
    int step = 0;
    RateSearch interrupted({1000, 4000, 0.05, 1});
    SearchRates(interrupted, [&step](double) { return ++step > 3 ? StepVerdict::Sender : StepVerdict::Holds; });
    EXPECT_EQ(interrupted.MaxSustainable(), 4000);
    EXPECT_EQ(interrupted.LimitedBy(), "max-rate");
    EXPECT_FALSE(interrupted.Confirmed());
    RateSearch unasked({1000, 4000, 0.05, 0});
    SearchRates(unasked, steady);
    EXPECT_FALSE(unasked.Confirmed());
}

TEST(RateSearch, JudgesEachStepByWhatHappened)
{
    const StepLimits limits{0.01, 5.0};
    const auto stream = [](auto change) {
        StepOutcome o{1000, 0, 1.0};
        o.bytesPerSecond = 100'000;
        change(o);
        return o;
    };
    const auto datagram = [&stream](auto change) {
        return stream([&change](StepOutcome &o) {
            o.stream = false;
            change(o);
        });
    };
    const std::pair<StepOutcome, StepJudgement> cases[] = {
        {{1000, 10, 2.0}, {StepVerdict::Holds, ""}},
        {{1000, 11, 2.0}, {StepVerdict::Loss, "loss 1.1%"}},
        {{0, 0, std::nullopt}, {StepVerdict::Loss, "nothing sent"}},
        {{1000, 0, 5.5}, {StepVerdict::Latency, "p99 5.5 ms > 5 ms"}},
        {{1000, 0, std::nullopt}, {StepVerdict::Latency, "no latency measured"}},
        // A collector that delivers twice fails above a thousandth of what it delivered.
        {stream([](StepOutcome &o) { o.received = 1000, o.duplicates = 1000; }),
         {StepVerdict::Duplicates, "duplicates 100% of delivered"}},
        {stream([](StepOutcome &o) { o.received = 1000, o.duplicates = 1; }), {StepVerdict::Holds, ""}},
        {{1000, 500, 1.0, true, true}, {StepVerdict::Sender, "sender at a full core"}},
        // Refused is not loss, and not the sender's.
        {stream([](StepOutcome &o) { o.sent = 0, o.refused = 1; }), {StepVerdict::Refused, "refused: 1"}},
        {datagram([](StepOutcome &o) { o.refused = 30, o.lost = 0; }), {StepVerdict::Refused, "refused: 30"}},
        // Short of the rate: over datagrams the probe's own limit, over a
        // stream the collector held it back.
        {datagram([](StepOutcome &o) { o.senderShort = true, o.sentShare = 0.0001; }),
         {StepVerdict::Sender, "sender reached 0.01% of the rate"}},
        {stream([](StepOutcome &o) { o.senderShort = true, o.sentShare = 0.8; }),
         {StepVerdict::BackPressure, "back-pressure: 80% of the rate sent"}},
        {stream([](StepOutcome &o) { o.untakenBytes = 1'300'000, o.lost = 500; }),
         {StepVerdict::BackPressure, "back-pressure: 1.2 MB not taken"}},
        {stream([](StepOutcome &o) { o.queuedBytes = 70'000; }),
         {StepVerdict::BackPressure, "back-pressure: 0.1 MB not taken"}},
        {stream([](StepOutcome &o) { o.queuedBytes = 20'000; }), {StepVerdict::Holds, ""}},
        {stream([](StepOutcome &o) { o.blockedSeconds = 0.5; }),
         {StepVerdict::BackPressure, "back-pressure: blocked 0.5 s"}},
        {stream([](StepOutcome &o) { o.late = 60; }), {StepVerdict::BackPressure, "back-pressure: 6% sent late"}},
        // Latency that grows through a step; a pause that delays a few does not count.
        {stream([](StepOutcome &o) { o.firstP99Ms = 2, o.lastP99Ms = 900, o.lastP10Ms = 600; }),
         {StepVerdict::BackPressure, "back-pressure: p99 grew from 2 ms to 900 ms"}},
        {datagram([](StepOutcome &o) { o.firstP99Ms = 2, o.lastP99Ms = 900, o.lastP10Ms = 600; }),
         {StepVerdict::Latency, "p99 grew from 2 ms to 900 ms"}},
        {stream([](StepOutcome &o) { o.firstP99Ms = 0.4, o.lastP99Ms = 107, o.lastP10Ms = 1; }),
         {StepVerdict::Holds, ""}},
    };
    for (const auto &[outcome, judged] : cases) {
        const StepJudgement got = JudgeStep(outcome, limits);
        EXPECT_EQ(got.verdict, judged.verdict) << judged.reason;
        EXPECT_EQ(got.reason, judged.reason);
    }
}

TEST(RateSearch, ConfidenceIsLowOnANoisyOrUnconfirmedBoundary)
{
    const auto step = [](int number, double rate, bool held, bool noisy, std::int64_t rewritten = 0) {
        ProbeStep s;
        s.number = number, s.rate = rate, s.held = held, s.noisy = noisy, s.stampsRewritten = rewritten;
        s.verdict = held ? "holds" : "loss";
        s.noise.idleCpuShare = noisy ? 0.01 : 0.5;
        return s;
    };
    struct Case {
        std::vector<ProbeStep> steps;
        double found;
        bool confirmed;
        int confirm;
        std::string reason;
    };
    const Case cases[] = {
        {{step(1, 1000, true, true), step(2, 2000, true, false), step(3, 4000, false, false),
          step(4, 2000, true, false), step(5, 4000, false, false)},
         2000,
         true,
         1,
         ""},
        {{step(1, 1000, true, false), step(2, 2000, false, true)},
         1000,
         true,
         1,
         "step 2 at 2,000 MPS was noisy: the machine was 99% busy"},
        {{step(1, 1000, true, false), step(2, 2000, false, false)},
         1000,
         false,
         0,
         "the boundary was not run again (--confirm 0)"},
        {{step(1, 1000, true, false), step(2, 2000, false, false), step(3, 2000, true, false)},
         1000,
         false,
         1,
         "runs at the boundary disagreed: 2,000 MPS held 1 of 2 times"},
        // Latencies timed before their stamps put every p99 in doubt.
        {{step(1, 1000, true, false, 3), step(2, 2000, false, false), step(3, 1000, true, false),
          step(4, 2000, false, false)},
         1000,
         true,
         1,
         "3 messages arrived no later than their stamps say they were sent (clock or stamp rewritten)"},
    };
    for (const Case &c : cases) {
        ProbeResult result;
        result.steps = c.steps;
        result.maxSustainableMps = c.found;
        result.confirmed = c.confirmed;
        result.settings.confirm = c.confirm;
        AssessConfidence(result);
        EXPECT_EQ(result.confidence, c.reason.empty() ? "high" : "low");
        EXPECT_EQ(result.confidenceReason, c.reason);
    }
}
} // namespace
