#include "probe/FileFollower.h"

#include "common/Clock.h"
#include "engine/Stamp.h"
#include "proof/MessageIntake.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
std::string Line(const std::string &run, std::uint64_t seq)
{
    std::string message = "Dec  7 18:00:00 host tag: text";
    AppendStampToken(message, {run, 1, seq, SystemClock().EpochMicroseconds()});
    return message + "\n";
}

void Append(const QString &path, const std::string &bytes, QIODevice::OpenMode mode = QIODevice::Append)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | mode));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// Turns until the intake holds count messages; each turn waits for the
// file's folder to change, so none is spent idle.
void TakeUntil(FileFollower &follower, const MessageIntake &intake, std::uint64_t count)
{
    for (int turn = 0; turn < 100 && intake.Counts().messages < count; ++turn)
        follower.RunOnce(1000);
}

// A collector's file as it grows: made after the follower starts, lines
// written in pieces, then cut short as a rotation in place does, then
// renamed away as logrotate does.
TEST(FileFollower, ReadsTheLinesAFileGrowsBy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("collector.log"));
    const SystemClock clock;
    DeliveryLedger ledger;
    MessageIntake intake(ledger);
    FileFollower follower(path.toStdString(), intake, clock);
    const Status opened = follower.Open();
    ASSERT_TRUE(opened) << opened.Why();

    Append(path, Line("grow", 1) + Line("grow", 2));
    TakeUntil(follower, intake, 2);
    const std::string third = Line("grow", 3);
    Append(path, third.substr(0, 20));
    follower.RunOnce(1000);
    EXPECT_EQ(intake.Counts().messages, 2u) << "half a line is no message yet";
    Append(path, third.substr(20) + Line("grow", 4));
    TakeUntil(follower, intake, 4);

    // Rotated in place: shorter than what was read, so read from its start.
    Append(path, Line("grow", 5), QIODevice::Truncate);
    TakeUntil(follower, intake, 5);
    // Renamed away and made again: the old file is read to its end, the line
    // the collector wrote there before it reopened included, then the new one.
    ASSERT_TRUE(QFile::rename(path, path + ".1"));
    Append(path + ".1", Line("grow", 6));
    Append(path, Line("grow", 7));
    TakeUntil(follower, intake, 7);

    const DeliveryFigures figures = ledger.RunFigures("grow");
    EXPECT_EQ(intake.Counts().messages, 7u);
    EXPECT_EQ(figures.received, 7u);
    EXPECT_EQ(figures.lost, 0u);
    EXPECT_EQ(figures.latency.samples, 7u) << "each line is taken with the time it was read";
    EXPECT_EQ(follower.Counts().frames.frames, 7u) << "the lines of a file left behind still count";

    // What a file held before the probe began is no step's.
    DeliveryLedger second;
    MessageIntake secondIntake(second);
    FileFollower late(path.toStdString(), secondIntake, clock);
    const Status lateOpened = late.Open();
    ASSERT_TRUE(lateOpened) << lateOpened.Why();
    Append(path, Line("late", 1));
    TakeUntil(late, secondIntake, 1);
    EXPECT_EQ(secondIntake.Counts().messages, 1u);
    EXPECT_EQ(second.RunFigures("late").received, 1u);
}
} // namespace
