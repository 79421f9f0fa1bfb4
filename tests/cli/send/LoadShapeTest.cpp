#include "cli/common/CliProcess.h"
#include "cli/send/CommandLine.h"
#include "cli/send/RunSender.h"
#include "load/PaceSchedule.h"
#include "load/SendSeconds.h"
#include "support/LoopbackReceivers.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <tuple>

namespace {
using Args = std::vector<std::string>;

Options Parsed(const Args &args)
{
    const ParseResult result = ParseCommandLine(args);
    EXPECT_EQ(result.action, ParseResult::Action::Run) << result.error;
    return result.options;
}

// The pace of a run of one thread.
PaceSchedule Scheduled(const Args &args)
{
    const LoadPlan plan = MakeLoadPlan(Parsed(args));
    return PaceSchedule(plan, plan.shares.front());
}

TEST(LoadShapeFlags, GoodValuesGiveTheShapeAndShard)
{
    ::setenv("JOB_COMPLETION_INDEX", "3", 1);
    const std::tuple<Args, std::string, std::uint64_t, std::uint64_t> cases[] = {
        {{"--rate", "250"}, "rate 250", 0, 1},
        {{"--ramp", "0:1e4:30"}, "ramp 0:10000:30", 0, 1},
        {{"--ramp=500:100:0.5", "--poisson"}, "ramp 500:100:0.5", 0, 1},
        {{"--steps", "100x5,0x2.5,1000x1"}, "steps 100x5,0x2.5,1000x1", 0, 1},
        {{"--rate", "900", "--shard", "2/3"}, "rate 300", 2, 3},
        {{"--steps", "80x1,40x2", "--shard", "auto/4"}, "steps 20x1,10x2", 3, 4},
    };
    for (const auto &[args, shape, index, count] : cases) {
        const Options options = Parsed(args);
        EXPECT_EQ(ShardShape(options).Text(), shape) << args.front();
        EXPECT_EQ(options.shard.index, index) << args.front();
        EXPECT_EQ(options.shard.count, count) << args.front();
    }
    ::unsetenv("JOB_COMPLETION_INDEX");
}

TEST(LoadShapeFlags, BadValuesAreUsageErrorsNamingTheFlag)
{
    const std::pair<Args, std::string> cases[] = {
        {{"--ramp", "10:100"}, "--ramp: '10:100' is not FROM:TO:SECONDS"},
        {{"--ramp", "-1:100:5"}, "--ramp: FROM '-1' is not a rate from 0"},
        {{"--ramp", "1:nan:5"}, "--ramp: TO 'nan' is not a rate"},
        {{"--ramp", "1:2:0"}, "--ramp: SECONDS '0' is not a number of seconds above 0"},
        {{"--ramp", "0:0:5"}, "--ramp: '0:0:5' sends nothing"},
        {{"--steps", "100x5,200"}, "--steps: step 2 '200' is not RATExSECONDS"},
        {{"--steps", "100x5,1e10x1"}, "--steps: step 2 '1e10x1': '1e10' is not a rate"},
        {{"--steps", "0x5,0x1"}, "--steps: every step has the rate 0"},
        {{"--steps", ""}, "--steps: step 1 '' is not RATExSECONDS"},
        {{"--rate", "5", "--ramp", "1:2:3"}, "--rate and --ramp cannot be combined"},
        {{"--poisson"}, "--poisson needs a rate to vary around"},
        {{"--shard", "3"}, "--shard 3: '3' is not I/N"},
        {{"--shard", "4/4"}, "--shard 4/4: I '4' is not an index from 0 to 3"},
        {{"--shard", "0/0"}, "--shard 0/0: N '0' is not a number of shards from 1"},
        {{"--shard", "auto/2"}, "--shard auto/2: JOB_COMPLETION_INDEX is not set"},
        {{"--stats-file="}, "--stats-file needs a file name"},
    };
    ::unsetenv("JOB_COMPLETION_INDEX");
    for (const auto &[args, error] : cases) {
        const ParseResult result = ParseCommandLine(args);
        EXPECT_EQ(result.action, ParseResult::Action::UsageError) << args.front();
        EXPECT_EQ(result.error.rfind(error, 0), 0u) << result.error;
    }
    ::setenv("JOB_COMPLETION_INDEX", "2", 1);
    EXPECT_EQ(ParseCommandLine({"--shard", "auto/2"}).error, "--shard auto/2: JOB_COMPLETION_INDEX '2' is not an index "
                                                             "from 0 to 1");
    ::unsetenv("JOB_COMPLETION_INDEX");
}

TEST(LoadShapeSchedule, DueMessagesFollowTheRatesIntegral)
{
    // Messages due by t: the integral of the rate, the first one at once.
    const std::tuple<Args, double, std::int64_t> due[] = {
        {{"--once"}, 100, 1},
        {{"--every-second"}, 1.0, 2},
        {{"--continuous", "10"}, 0.095, 10},
        {{"--burst", "500"}, 10, 1000},
        {{"--burst", "100", "--count", "150"}, 10, 150},
        {{"--rate", "1000"}, 1.0, 1001},
        {{"--unlimited", "--count", "7"}, 0, 7},
        {{"--count", "7"}, 0, 7},                                    // a count alone: as --unlimited
        {{"--ramp", "0:1000:10"}, 2, 201},                           // 50 t^2
        {{"--ramp", "0:1000:10"}, 12, 5000 + 2000 + 1},              // then holds 1000
        {{"--ramp", "0:1000:10", "--shard", "1/2"}, 2, 101},         // half of it
        {{"--ramp", "1000:0:10"}, 20, 5001},                         // down to 0, then nothing
        {{"--steps", "100x1,0x1,300x1"}, 1.5, 101},                  // a pause
        {{"--steps", "100x1,0x1,300x1"}, 2.5, 251},                  //
        {{"--steps", "100x1,0x1,300x1"}, 60, 400},                   // ends after the last step
        {{"--steps", "100x1,0x1,300x1", "--duration", "9"}, 4, 701}, // holds the last rate
        {{"--steps", "100x1,5x1e-300,300x1"}, 1.5, 251},             // a step too short to last
        {{"--steps", "100x1,300x1", "--shard", "0/4"}, 1.5, 25 + 37 + 1},
        {{"--rate", "1000", "--shard", "3/4"}, 1, 251},
    };
    for (const auto &[args, seconds, count] : due)
        EXPECT_EQ(Scheduled(args).DueBy(seconds), count) << args[0] << " at " << seconds;
    EXPECT_EQ(Scheduled({"--burst", "100"}).DueAt(100), 10);
    EXPECT_TRUE(Scheduled({"--once"}).Finished(1));

    PaceSchedule steps = Scheduled({"--steps", "100x1,0x1,300x1"});
    EXPECT_DOUBLE_EQ(steps.DueAt(100), 1.0);
    EXPECT_DOUBLE_EQ(steps.DueAt(101), 2 + 1 / 300.0); // the pause is kept
    EXPECT_EQ(steps.DueAt(400), LoadShape::Never);
    EXPECT_EQ(steps.EndSeconds(), 3);
    EXPECT_DOUBLE_EQ(*steps.TargetBy(2.5), 250);
    PaceSchedule ramp = Scheduled({"--ramp", "0:1000:10"});
    EXPECT_DOUBLE_EQ(ramp.DueAt(200), 2.0);
    EXPECT_FALSE(Scheduled({"--every-second"}).TargetBy(1).has_value());
}

TEST(LoadShapeSchedule, PoissonGapsAreRepeatableAndKeepTheMeanRate)
{
    const auto arrivals = [](const Args &args) {
        PaceSchedule schedule = Scheduled(args);
        std::vector<std::int64_t> counts;
        for (double t = 0; t <= 100; t += 0.25)
            counts.push_back(schedule.DueBy(t));
        return counts;
    };
    const auto first = arrivals({"--rate", "1000", "--poisson", "--seed", "5"});
    EXPECT_EQ(first, arrivals({"--rate", "1000", "--poisson", "--seed", "5"}));
    EXPECT_NE(first, arrivals({"--rate", "1000", "--poisson", "--seed", "6"}));
    EXPECT_NE(first, arrivals({"--rate", "2000", "--poisson", "--seed", "5", "--shard", "1/2"}));
    // 100 000 arrivals on average; five standard deviations are 1581.
    EXPECT_NEAR(static_cast<double>(first.back()), 100000, 1581);
    // Uneven: some quarter second is far from the mean 250.
    std::int64_t widest = 0;
    for (std::size_t i = 1; i < first.size(); ++i)
        widest = std::max(widest, std::abs(first[i] - first[i - 1] - 250));
    EXPECT_GT(widest, 30);
    // A ramp's arrivals follow the ramp: the second half has three times the first's.
    const auto ramp = arrivals({"--ramp", "0:2000:100", "--poisson"});
    EXPECT_NEAR(static_cast<double>(ramp.back() - ramp[200]) / static_cast<double>(ramp[200]), 3, 0.15);
    // Far behind (a rate beyond any machine, an hour's jump) it answers at
    // once with the mean, without drawing every arrival it skipped.
    PaceSchedule fast = Scheduled({"--rate", "1000000000", "--poisson"});
    EXPECT_NEAR(static_cast<double>(fast.DueBy(3600)), 3.6e12, 1e4);
    EXPECT_GT(fast.DueAt(fast.DueBy(3600.5)), 3600.5);
}

TEST(LoadShapeShard, StreamIdsOfShardsAreDisjoint)
{
    std::set<std::uint64_t> seen;
    for (std::uint64_t index = 0; index < 8; ++index) {
        const Options options = Parsed({"--shard", std::to_string(index) + "/8"});
        for (std::uint64_t stream : {0u, 1u, 999u, 999999u}) {
            const std::uint64_t id = options.shard.Stream(stream);
            EXPECT_TRUE(seen.insert(id).second) << id;
            EXPECT_EQ((Stamp{"r", id, 1, 0}.Shard()), index);
        }
    }
    UdpReceiver receiver;
    std::ostringstream out, err;
    const RunSummary summary =
        RunSender(Parsed({"--stamp", "--shard", "3/4", "--port", std::to_string(receiver.Port())}), out, err);
    ASSERT_EQ(summary.streams.size(), 1u);
    EXPECT_EQ(summary.streams.front().stream, StreamId(3, 1));
}

// About the target, not the mean: a sender steadily far behind, or one that
// sent nothing, varied by all it missed.
TEST(SendSeconds, SpreadIsAboutTheTargetAndNamesASenderAtItsLimit)
{
    struct Case {
        // Each second: sent and the sending thread's processor seconds, against 100 a second.
        std::vector<std::pair<std::int64_t, double>> seconds;
        double stddev;
        double achieved;
        std::int64_t senderBound;
    };
    const Case cases[] = {
        {{{100, 0.2}, {102, 0.2}, {98, 1.0}}, std::sqrt(8.0 / 3), 1.0, 1},
        {{{5, 1.0}, {5, 1.0}, {5, 1.0}}, 95, 0.05, 3},
        {{{0, 0.0}, {0, 0.0}}, 100, 0, 0},
    };
    for (const Case &c : cases) {
        SendSeconds seconds;
        SendCounters counters;
        double elapsed = 0;
        for (const auto &[sent, cpu] : c.seconds) {
            counters.sent += sent;
            counters.target = counters.target.value_or(0) + 100;
            counters.threadCpuSeconds = {(counters.threadCpuSeconds.empty() ? 0 : counters.threadCpuSeconds[0]) + cpu};
            seconds.Record(++elapsed, 0, counters);
        }
        const RateSpread spread = seconds.Spread();
        EXPECT_EQ(spread.fullSeconds, static_cast<std::int64_t>(c.seconds.size()));
        EXPECT_NEAR(*spread.stddev, c.stddev, 1e-9) << c.achieved;
        EXPECT_NEAR(*spread.stddevRatio, c.stddev / 100, 1e-9);
        EXPECT_NEAR(*spread.achievedRatio, c.achieved, 1e-9);
        EXPECT_EQ(spread.TargetReached(), c.achieved >= 0.99);
        EXPECT_EQ(spread.senderBoundSeconds, c.senderBound);
    }
}

// --duration counts connecting too: a run it ends a hair before the sending
// clock's mark keeps its last second (one ending half way does not: below).
TEST(SendSeconds, ARunEndingOnItsMarkKeepsItsLastSecond)
{
    SendSeconds seconds;
    SendCounters counters;
    counters.sent = 100;
    seconds.Record(1.0002, 0, counters);
    counters.sent = 199;
    seconds.Record(1.9995, 0, counters, false);
    EXPECT_EQ(seconds.Spread().fullSeconds, 2);
    EXPECT_TRUE(seconds.Spread().stddevRatio);
}

// A --rate over a --duration sends its product, however the threads share
// it and however long the sessions took to open.
TEST(LoadShapeSchedule, RateOverDurationSendsItsProduct)
{
    EXPECT_EQ(Scheduled({"--rate", "5000", "--duration", "120"}).Total(), 600000);
    EXPECT_EQ(Scheduled({"--rate", "5000", "--duration", "120", "--count", "10"}).Total(), 10);
    for (const int threads : {1, 3}) {
        UdpReceiver receiver;
        const Options options = Parsed({"--rate", "2000", "--duration", "1.5", "--threads", std::to_string(threads),
                                        "--port", std::to_string(receiver.Port())});
        std::ostringstream out, err;
        const RunSummary summary = RunSender(options, out, err);
        ASSERT_EQ(summary.exitStatus, 0) << summary.error;
        EXPECT_EQ(summary.sent, 3000) << threads;
        EXPECT_EQ(summary.stoppedBy, "duration");
    }
}

// However many workers send, each second is one record and one progress line.
TEST(SendSeconds, StatsFileHasALineEachSecondOfARealRun)
{
    for (const int threads : {1, 2}) {
        QTemporaryDir folder;
        const std::string path = folder.filePath(QStringLiteral("send.jsonl")).toStdString();
        UdpReceiver receiver;
        const Options options = Parsed({"--rate", "200", "--duration", "1.5", "--threads", std::to_string(threads),
                                        "--stats-file", path, "--port", std::to_string(receiver.Port())});
        std::ostringstream out, err;
        const RunSummary summary = RunSender(options, out, err);
        ASSERT_EQ(summary.exitStatus, 0) << summary.error;

        const std::vector<QJsonObject> lines = JsonLines(QString::fromStdString(path));
        ASSERT_EQ(lines.size(), 2u) << threads; // one full second and the half before the end
        std::int64_t sent = 0;
        for (const QJsonObject &line : lines) {
            for (const char *key : {"elapsed", "epoch", "target_mps", "sent", "failed", "unknown_fate", "connections",
                                    "blocked_seconds", "cpu", "sender_bound"})
                EXPECT_TRUE(line.contains(QLatin1String(key))) << key;
            // Several workers' marks fall some milliseconds apart, each with its own target.
            if (threads == 1) {
                EXPECT_NEAR(line[QLatin1String("target_mps")].toDouble(), 200, 1e-6);
            }
            EXPECT_EQ(Figure(line, "connections"), static_cast<std::uint64_t>(threads));
            sent += line[QLatin1String("sent")].toInteger();
        }
        EXPECT_EQ(sent, summary.sent) << threads;
        EXPECT_TRUE(lines.front()[QLatin1String("full")].toBool());
        EXPECT_FALSE(lines.back()[QLatin1String("full")].toBool());
        // The summary alone: the progress goes to standard error, with --progress.
        const std::string printed = out.str();
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    }
}
} // namespace
