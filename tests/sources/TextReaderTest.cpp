#include "sources/SourceFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using namespace std::string_literals;
using Lines = std::vector<std::string>;

namespace {
class TextReader : public ::testing::Test {
protected:
    void SetUp() override { state.SourceFileName = Path("messages.txt"); }
    std::string Path(const QString &name) const { return folder.filePath(name).toStdString(); }
    void Write(const std::string &bytes, const std::string &path = {})
    {
        QFile file(QString::fromStdString(path.empty() ? state.SourceFileName : path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    Lines Read(std::size_t count)
    {
        Lines out;
        while (out.size() < count)
            out.push_back(reader.ReadSourceFileLine());
        return out;
    }

    QTemporaryDir folder;
    SendState state;
    SourceFile reader{state};
    const std::string error{SourceFileReadError};
};

TEST(TabField, PicksTheNthTabSeparatedField)
{
    const std::tuple<std::string, std::int32_t, std::string> cases[] = {
        {"one\ttwo\tthree", 4, ""}, {"a\t\tb\tc\td", 4, "c"}, {"a\tb\tc\td\te", 4, "d"}, {"a\tb\tc\t", 4, ""},
        {"abc", 1, "abc"},          {"abc", 0, ""},           {"abc", -1, ""},           {"", 1, ""},
    };
    for (const auto &[line, n, expected] : cases)
        EXPECT_EQ(TabField(line, n), expected) << line << " #" << n;
}

TEST_F(TextReader, ReplaysTheFileInALoop)
{
    const std::pair<std::string, Lines> cases[] = {
        {"1\t2\t3\tA\r\n1\t2\t3\tB\r\n1\t2\t3\tC\r\n", {"A", "B", "C", "A", "B"}},
        {"1\t2\t3\tA\r\n1\t2\t3\tB", {"A", "B", "A"}},
        {"1\t2\t3\tA\r1\t2\t3\tB\r", {"A", "B", "A"}},
        {"1\t2\t3\tA\n1\t2\t3\tB\n", {"A", "B", "A"}}, // LF ends a line too
        {"", {"", "", ""}},
        {"one\ttwo\tthree\r\n\r\n1\t2\t3\tA\r\n", {"", "", "A", ""}},
        {"hex=3c3e\r\nHEX=41 42\r\nHEX\t2\t3\tfour\r\n", {"hex=3c3e", "HEX=41 42", "four", "hex=3c3e"}},
        {"1\t2\t3\t\xFF\x00z\x80\r\n"s, {"\xFF\x00z\x80"s}},
    };
    for (const auto &[content, expected] : cases) {
        reader.CloseSourceFile();
        Write(content);
        EXPECT_EQ(Read(expected.size()), expected) << content;
        EXPECT_EQ(state.SourceFileHandle, 1);
    }
}

TEST_F(TextReader, StartsAgainAtLineOneWhenTheSourceIsClosed)
{
    Write("1\t2\t3\tA\r\n1\t2\t3\tB\r\n1\t2\t3\tC\r\n");
    EXPECT_EQ(Read(2), (Lines{"A", "B"}));
    reader.CloseSourceFile();
    EXPECT_EQ(state.SourceFileHandle, 0);
    EXPECT_EQ(Read(2), (Lines{"A", "B"}));
    state.SourceFileHandle = 0; // as the window does when the counters are reset
    EXPECT_EQ(Read(1), Lines{"A"});
    EXPECT_EQ(reader.ReadCapturePacket(), std::string(CaptureNoPacketsError));
    EXPECT_EQ(Read(1), Lines{"A"});

    state.SourceFileName = Path("other.txt");
    Write("1\t2\t3\tX\r\n");
    reader.CloseSourceFile();
    EXPECT_EQ(Read(2), (Lines{"X", "X"}));
}

TEST_F(TextReader, ReportsUnreadablePathsAndTriesAgainAtTheNextCall)
{
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder"));
    Write("1\t2\t3\tA\r\n", Path("real.txt"));
    const std::string paths[] = {"", Path("missing.txt"), Path("folder"), Path("no/such/file.txt"),
                                 Path("real.txt") + "\0.ignored"s};
    for (const auto &path : paths) {
        reader.CloseSourceFile();
        state.SourceFileName = path;
        EXPECT_EQ(Read(2), (Lines{error, error})) << path;
        EXPECT_EQ(state.SourceFileHandle, 0) << path;
    }
    state.SourceFileName = Path("missing.txt");
    Write("1\t2\t3\tA\r\n");
    EXPECT_EQ(Read(2), (Lines{"A", "A"}));

    // Removed while open: the reopen at the end fails, then the file comes back.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(Read(1), Lines{error});
    Write("1\t2\t3\tB\r\n");
    EXPECT_EQ(Read(1), Lines{"B"});
}
} // namespace
