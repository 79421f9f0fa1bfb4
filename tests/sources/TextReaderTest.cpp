#include "sources/SourceFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using namespace std::string_literals;

namespace {

class TextReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        state.SourceFileName = Path("messages.txt");
    }

    std::string Path(const QString &name) const { return folder.filePath(name).toStdString(); }

    static void Write(const std::string &path, const std::string &bytes)
    {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())), static_cast<qint64>(bytes.size()));
    }

    std::vector<std::string> Read(int count)
    {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i)
            out.push_back(reader.ReadSourceFileLine());
        return out;
    }

    QTemporaryDir folder;
    SendState state;
    SourceFile reader{state};
};

TEST(TabField, PicksTheNthTabSeparatedField)
{
    struct Case {
        std::string line;
        std::int32_t n;
        std::string expected;
    };
    const Case cases[] = {
        {"one\ttwo\tthree", 4, ""},
        {"a\t\tb\tc\td", 4, "c"},
        {"a\tb\tc\td", 4, "d"},
        {"a\tb\tc\td\te", 4, "d"},
        {"a\tb\tc\t", 4, ""},
        {"\t\t\tlast", 4, "last"},
        {"abc", 1, "abc"},
        {"a\tb", 2, "b"},
        {"abc", 0, ""},
        {"abc", -1, ""},
        {"", 1, ""},
        {"a b\tc d", 1, "a b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TabField(c.line, c.n), c.expected) << c.line << " #" << c.n;
}

TEST_F(TextReader, ReplaysTheFileInALoop)
{
    struct Case {
        const char *name;
        std::string content;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"CR LF lines", "1\t2\t3\tA\r\n1\t2\t3\tB\r\n1\t2\t3\tC\r\n", {"A", "B", "C", "A", "B"}},
        {"no final terminator", "1\t2\t3\tA\r\n1\t2\t3\tB\r\n1\t2\t3\tC", {"A", "B", "C", "A"}},
        {"CR alone ends a line", "1\t2\t3\tA\r1\t2\t3\tB\r", {"A", "B", "A"}},
        {"a lone LF stays in the line", "1\t2\t3\tA\nB\r\n", {"A\nB", "A\nB"}},
        {"LF only file is one line", "1\t2\t3\tA\n1\t2\t3\tB\n", {"A\n1", "A\n1"}},
        {"empty file", "", {"", "", ""}},
        {"fewer than four fields", "one\ttwo\tthree\r\n", {"", ""}},
        {"empty lines are not skipped", "\r\n1\t2\t3\tA\r\n", {"", "A", ""}},
        {"hex lines come back whole", "hex=3c3e\r\nHEX=41 42\r\n", {"hex=3c3e", "HEX=41 42", "hex=3c3e"}},
        {"HEX without = is a tab line", "HEX\t2\t3\tfour\r\n", {"four"}},
        {"bytes pass unchanged", "1\t2\t3\t\xFF\x00z\x80\r\n"s, {"\xFF\x00z\x80"s, "\xFF\x00z\x80"s}},
    };
    for (const auto &c : cases) {
        reader.CloseSourceFile();
        Write(state.SourceFileName, c.content);
        EXPECT_EQ(Read(static_cast<int>(c.expected.size())), c.expected) << c.name;
    }
}

TEST_F(TextReader, KeepsTheFileOpenUnderNumberOne)
{
    Write(state.SourceFileName, "1\t2\t3\tA\r\n");
    EXPECT_EQ(state.SourceFileHandle, 0);
    reader.ReadSourceFileLine();
    EXPECT_EQ(state.SourceFileHandle, 1);
    reader.CloseSourceFile();
    EXPECT_EQ(state.SourceFileHandle, 0);
}

TEST_F(TextReader, StartsAgainAtLineOneAfterTheFileIsClosed)
{
    Write(state.SourceFileName, "1\t2\t3\tA\r\n1\t2\t3\tB\r\n1\t2\t3\tC\r\n");
    EXPECT_EQ(Read(2), (std::vector<std::string>{"A", "B"}));
    reader.CloseSourceFile();
    EXPECT_EQ(Read(1), std::vector<std::string>{"A"});

    // Zeroing the number alone, as the window does, restarts too.
    reader.ReadSourceFileLine();
    state.SourceFileHandle = 0;
    EXPECT_EQ(Read(1), std::vector<std::string>{"A"});

    // Another file is read from its first line.
    const std::string other = Path("other.txt");
    Write(other, "1\t2\t3\tX\r\n1\t2\t3\tY\r\n");
    state.SourceFileName = other;
    reader.CloseSourceFile();
    EXPECT_EQ(Read(3), (std::vector<std::string>{"X", "Y", "X"}));
}

TEST_F(TextReader, RetriesTheOpenAfterAFailure)
{
    const std::string error(SourceFileReadError);
    EXPECT_EQ(Read(2), (std::vector<std::string>{error, error}));
    EXPECT_EQ(state.SourceFileHandle, 0);

    Write(state.SourceFileName, "1\t2\t3\tA\r\n1\t2\t3\tB\r\n");
    EXPECT_EQ(Read(3), (std::vector<std::string>{"A", "B", "A"}));
}

TEST_F(TextReader, ReportsPathsThatCannotBeRead)
{
    const std::string error(SourceFileReadError);
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder"));
    Write(Path("real.txt"), "1\t2\t3\tA\r\n");
    const std::string cases[] = {
        "",
        Path("missing.txt"),
        Path("folder"),
        Path("no/such/folder/file.txt"),
        Path("real.txt") + "\0.ignored"s, // must not open real.txt
    };
    for (const auto &path : cases) {
        reader.CloseSourceFile();
        state.SourceFileName = path;
        EXPECT_EQ(reader.ReadSourceFileLine(), error) << path;
        EXPECT_EQ(state.SourceFileHandle, 0) << path;
    }
}

TEST_F(TextReader, ReportsAFileThatVanishesBeforeTheReplayStartsOver)
{
    Write(state.SourceFileName, "1\t2\t3\tA\r\n");
    EXPECT_EQ(reader.ReadSourceFileLine(), "A");
    ASSERT_TRUE(QFile::remove(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(reader.ReadSourceFileLine(), std::string(SourceFileReadError));
    EXPECT_EQ(state.SourceFileHandle, 0);
    Write(state.SourceFileName, "1\t2\t3\tB\r\n");
    EXPECT_EQ(reader.ReadSourceFileLine(), "B");
}

TEST_F(TextReader, ReopensAsTextAfterACaptureWasRead)
{
    Write(state.SourceFileName, "1\t2\t3\tA\r\n1\t2\t3\tB\r\n");
    EXPECT_EQ(reader.ReadSourceFileLine(), "A");
    EXPECT_EQ(reader.ReadCapturePacket(), std::string(CaptureNoPacketsError));
    EXPECT_EQ(reader.ReadSourceFileLine(), "A");
}

} // namespace
