#include "sources/ReplayFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {
std::string Written(const QTemporaryDir &folder, const std::string &text)
{
    const QString path = folder.filePath("replay.log");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.data(), static_cast<qint64>(text.size()));
    return path.toStdString();
}

// Each line's offset in milliseconds, over loops of the file.
std::vector<std::int64_t> Offsets(const std::string &path, int loops = 1)
{
    ReplayFile file(2025);
    const Status opened = file.Open(path);
    EXPECT_TRUE(opened) << opened.Why();
    std::vector<std::int64_t> offsets;
    ReplayLine line;
    for (int loop = 0; loop < loops; ++loop, file.Rewind())
        while (file.Next(line) == ReplayFile::Read::Line)
            offsets.push_back(line.offsetUs / 1000);
    return offsets;
}

// The times as rsyslog and syslog-ng write them, behind a priority or not;
// a line without one goes with the line before, one out of order at once.
TEST(ReplayFile, GivesEachLineItsTimeSinceTheFirst)
{
    struct Case {
        std::string text;
        std::vector<std::int64_t> offsetsMs;
    };
    const Case cases[] = {
        {"Mar  5 14:03:09 host sshd[1]: one\nMar  5 14:03:10 host a: two\n  continued\nMar 05 14:03:12 h b: three\n",
         {0, 1000, 1000, 3000}},
        {"2026-03-05T14:03:09.250000+01:00 h a: x\r\n2026-03-05T13:03:10.5Z h a: y\r\n"
         "2026-03-05T14:03:09+01:00 h: early\r\n<13>1 2026-03-05T13:03:12.000Z h a - - - z",
         {0, 1250, 1250, 2750}},
        {"<38>Dec 31 23:59:59 h a: old year\n<38>Jan  1 00:00:01 h a: new year\n", {0, 2000}},
        {"no time here\nMarch 5 is not a time\nMar  5 14:03:09 h a: first\n", {0, 0, 0}},
    };
    QTemporaryDir folder;
    for (const Case &c : cases)
        EXPECT_EQ(Offsets(Written(folder, c.text)), c.offsetsMs) << c.text;
    // Loops go on at the file's pace: its mean gap after the last line.
    EXPECT_EQ(Offsets(Written(folder, "Mar  5 14:03:09 a\nMar  5 14:03:11 b\n"), 3),
              (std::vector<std::int64_t>{0, 2000, 4000, 6000, 8000, 10000}));
    // Lines millennia apart, looped for long, never wrap around.
    const std::vector<std::int64_t> far =
        Offsets(Written(folder, "0001-01-01T00:00:00Z a\n9999-12-31T23:59:59Z b\n"), 40);
    EXPECT_TRUE(std::is_sorted(far.begin(), far.end()));
}

TEST(ReplayFile, RewritesTheTimeInItsOwnForm)
{
    // 2026-03-06T10:00:00.654321Z, shown an hour ahead.
    constexpr std::int64_t Now = 1772791200654321;
    const std::pair<std::string, std::string> cases[] = {
        {"Mar  5 14:03:09 host a: x", "Mar  6 11:00:00 host a: x"},
        {"<13>Dec 25 01:02:03.5 h", "<13>Mar  6 11:00:00.6 h"},
        {"<13>1 2025-12-25T01:02:03.123456Z h a - - - m", "<13>1 2026-03-06T11:00:00.654321+01:00 h a - - - m"},
        {"2025-12-25T01:02:03-05:00", "2026-03-06T11:00:00+01:00"},
        {"no time", "no time"},
    };
    QTemporaryDir folder;
    for (const auto &[text, expected] : cases) {
        ReplayFile file(2025);
        ASSERT_TRUE(file.Open(Written(folder, text)));
        ReplayLine line;
        ASSERT_EQ(file.Next(line), ReplayFile::Read::Line);
        std::string rewritten;
        AppendRewritten(rewritten, line, Now, 3600);
        EXPECT_EQ(rewritten, expected);
    }
}

TEST(ReplayFile, ALineTooLongOrAMissingFileIsNamed)
{
    QTemporaryDir folder;
    ReplayFile file(2025);
    ASSERT_TRUE(file.Open(Written(folder, "short\n" + std::string(ReplayFile::LongestLine + 1, 'x'))));
    ReplayLine line;
    EXPECT_EQ(file.Next(line), ReplayFile::Read::Line);
    EXPECT_EQ(file.Next(line), ReplayFile::Read::Failed);
    EXPECT_NE(file.Outcome().Why().find("line 2 is longer than 65536 bytes"), std::string::npos)
        << file.Outcome().Why();
    ASSERT_TRUE(file.Open("/dev/zero"));
    EXPECT_EQ(file.Next(line), ReplayFile::Read::Failed);
    const Status missing = file.Open(folder.filePath("none").toStdString());
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.Why().find("cannot read"), std::string::npos);
}
} // namespace
