#include "cli/send/CommandLine.h"
#include "load/PaceSchedule.h"
#include "load/ReplayLines.h"

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
        // Feb 30 is no time: it goes with the line before, in its message
        // or, separate, at its time.
        {"Jan  1 00:00:00 h a: one\nFeb 30 00:00:00 h a: no such day\nJan  1 00:00:02 h a: three\n", {}, {0, 2}, 0, 0},
        {"Jan  1 00:00:00 h a: one\nFeb 30 00:00:00 h a: no such day\nJan  1 00:00:02 h a: three\n",
         {"--replay-lines", "separate"},
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

// The lines without a time after a timed one go with it as one message,
// each after an LF, up to the longest line; the rest go on as a message of
// their own, counted. Lines before the first time, and every line when
// separate, go one by one.
TEST(ReplayLines, TimelessLinesJoinTheTimedLineBefore)
{
    QTemporaryDir folder;
    const std::string path = folder.filePath("trace.log").toStdString();
    const std::string big(30000, 'x');
    std::ofstream(path) << "banner\nMar  5 14:03:09 h app: failed\n\tat a\n\n\tat b\nMar  5 14:03:10 h app: ok\n"
                        << "Mar  5 14:03:11 h app: long\n"
                        << big << "\n"
                        << big << "\n"
                        << big << "\n"
                        << big << "\n";
    const std::string bigs = big + "\n" + big;
    struct Case {
        bool joined;
        std::uint64_t parts;
        std::vector<std::string> texts;
        std::uint64_t split;
    };
    const Case cases[] = {
        {true,
         1,
         {"banner", "Mar  5 14:03:09 h app: failed\n\tat a\n\tat b", "Mar  5 14:03:10 h app: ok",
          "Mar  5 14:03:11 h app: long\n" + bigs, bigs},
         1},
        {true, 2, {"banner", "Mar  5 14:03:10 h app: ok", bigs}, 1},
        {false,
         1,
         {"banner", "Mar  5 14:03:09 h app: failed", "\tat a", "\tat b", "Mar  5 14:03:10 h app: ok",
          "Mar  5 14:03:11 h app: long", big, big, big, big},
         0},
    };
    for (const Case &c : cases) {
        ReplayLane lane{path};
        lane.parts = c.parts;
        lane.joined = c.joined;
        ReplayLines lines(lane);
        std::vector<std::string> texts;
        for (ReplayLine line; lines.Next(line);)
            texts.emplace_back(line.text);
        EXPECT_TRUE(lines.Outcome()) << lines.Outcome().Why();
        EXPECT_EQ(texts, c.texts) << c.joined << c.parts;
        EXPECT_EQ(lines.JoinsSplit(), c.split);
    }
}
