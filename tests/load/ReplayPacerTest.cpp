#include "cli/send/CommandLine.h"
#include "load/PaceSchedule.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace {
struct Paced {
    std::vector<double> due;
    std::uint64_t gapsCut = 0;
    std::uint64_t wentBack = 0;
};

// Each line's due time, asked of the schedule as the sender asks it: no
// clock runs, so the times are the schedule's own.
Paced Pace(const std::string &path, std::vector<std::string> args)
{
    args.insert(args.begin(), {"--replay", path});
    const ParseResult parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.action, ParseResult::Action::Run) << parsed.error;
    const LoadPlan plan = MakeLoadPlan(parsed.options);
    PaceSchedule schedule(plan, plan.shares[0]);
    Paced paced;
    for (std::int64_t counted = 0;;) {
        const double at = schedule.DueAt(counted);
        if (at == LoadShape::Never)
            break;
        const std::int64_t due = schedule.DueBy(at);
        if (due == counted)
            break;
        paced.due.insert(paced.due.end(), static_cast<std::size_t>(due - counted), at);
        counted = due;
    }
    paced.gapsCut = schedule.ReplayGapsCut();
    paced.wentBack = schedule.ReplayWentBack();
    return paced;
}

// A line dated far ahead, or a date that does not exist, never holds the
// run: a gap is cut to --max-gap after --speed, a line that goes back in
// time goes at once, and the lines after it keep their own gaps.
TEST(ReplayPacer, NoGapWaitsLongerThanTheLongestAllowed)
{
    const std::string farAhead = "2026-03-05T14:00:00Z h a: one\n9999-12-31T23:59:59Z h a: far ahead\n"
                                 "2026-03-05T14:00:01Z h a: three\n2026-03-05T14:00:03Z h a: four\n";
    struct Case {
        std::string text;
        std::vector<std::string> args;
        std::vector<double> due;
        std::uint64_t gapsCut;
        std::uint64_t wentBack;
    };
    const Case cases[] = {
        {farAhead, {}, {0, 60, 60, 62}, 1, 1},
        {farAhead, {"--speed", "2", "--max-gap", "5"}, {0, 5, 5, 6}, 1, 1},
        {farAhead, {"--speed", "max"}, {0, 0, 0, 0}, 0, 2},
        // Feb 30 is no time: it goes with the line before.
        {"Jan  1 00:00:00 h a: one\nFeb 30 00:00:00 h a: no such day\nJan  1 00:00:02 h a: three\n",
         {},
         {0, 0, 2},
         0,
         0},
        // A line a little out of order goes at once and moves no later line;
        // a gap of exactly the longest is not cut.
        {"Mar  5 10:00:10 h a: one\nMar  5 10:00:05 h a: early\nMar  5 10:00:11 h a: three\n"
         "Mar  5 10:00:21 h a: four\n",
         {"--max-gap", "10"},
         {0, 0, 1, 11},
         0,
         1},
    };
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("replay.log")).toStdString();
    for (const Case &c : cases) {
        std::ofstream(path, std::ios::trunc) << c.text;
        const Paced paced = Pace(path, c.args);
        EXPECT_EQ(paced.due, c.due) << c.text;
        EXPECT_EQ(paced.gapsCut, c.gapsCut) << c.text;
        EXPECT_EQ(paced.wentBack, c.wentBack) << c.text;
    }
}
} // namespace
