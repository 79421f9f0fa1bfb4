#include "sources/SourceFile.h"

#include "support/PcapWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace std::string_literals;
using Texts = std::vector<std::string>;

namespace {
CapturedDatagram Udp(std::string payload, std::optional<std::uint16_t> length = {}, std::uint16_t to = 514,
                     std::uint16_t from = 49152, std::optional<std::uint16_t> checksum = {})
{
    return CapturedDatagram{from, to, std::move(payload), length, checksum};
}

std::string Capture(std::initializer_list<CapturedDatagram> datagrams)
{
    PcapWriter capture;
    for (const auto &d : datagrams)
        capture.Add(d);
    return capture.Bytes();
}

class Source : public ::testing::Test {
protected:
    void SetUp() override { state.SourceFileName = Path("source"); }
    std::string Path(const QString &name) const { return folder.filePath(name).toStdString(); }
    // Closing first makes the reader load the new contents.
    void Write(const std::string &bytes, bool closeFirst = true)
    {
        if (closeFirst)
            reader.CloseSourceFile();
        std::ofstream(state.SourceFileName, std::ios::binary) << bytes;
    }
    Texts Read(std::size_t count, bool lines = false)
    {
        Texts out;
        while (out.size() < count)
            out.push_back(lines ? reader.ReadSourceFileLine() : reader.ReadCapturePacket());
        return out;
    }

    QTemporaryDir folder;
    SendState state;
    SourceFile reader{state};
    const std::string none{CaptureNoPacketsError}, textError{SourceFileReadError}, captureError{CaptureReadError};
};

TEST_F(Source, ReplaysTheTextFileInALoop)
{
    // Line ends CR LF, CR or LF; field 4 unless the line starts with HEX=; bytes pass through.
    const std::pair<std::string, Texts> cases[] = {
        {"hex=3c3e\r\nHEX=41 42\rHEX\t2\t3\tfour\none\ttwo\tthree\r\n\r\na\t\tb\tc\td\te\r\n1\t2\t3\t\xFF\x00z\x80\r\n"s,
         {"hex=3c3e", "HEX=41 42", "four", "", "", "c", "\xFF\x00z\x80"s, "hex=3c3e"}},
        {"1\t2\t3\tA\r\n1\t2\t3\tB", {"A", "B", "A"}},
        {"", {"", ""}},
    };
    for (const auto &[content, expected] : cases) {
        Write(content);
        EXPECT_EQ(Read(expected.size(), true), expected) << content;
        EXPECT_EQ(state.SourceFileHandle, 1);
    }
}

// A line is read up to 64 KiB: a longer one, or a file without line ends,
// fails as a read does instead of filling the memory.
TEST_F(Source, ALineLongerThan64KiBIsAFailedRead)
{
    const std::string line = "1\t2\t3\t" + std::string(SourceFile::LongestLine - 6, 'x');
    Write(line + "\nHEX=41");
    EXPECT_EQ(Read(2, true), (Texts{line.substr(6), "HEX=41"}));
    EXPECT_FALSE(reader.LineTooLong());
    for (const std::string &name : {Path("source"), "/dev/zero"s}) {
        Write(line + "y\nHEX=41");
        state.SourceFileName = name;
        EXPECT_EQ(Read(2, true), (Texts{textError, textError})) << name;
        EXPECT_TRUE(reader.LineTooLong());
        EXPECT_EQ(state.SourceFileHandle, 0);
    }
}

TEST_F(Source, ReadsTextFromLineOneAgainWhenTheSourceIsClosed)
{
    Write("1\t2\t3\tA\r\n1\t2\t3\tB\r\n1\t2\t3\tC\r\n");
    EXPECT_EQ(Read(2, true), (Texts{"A", "B"}));
    reader.CloseSourceFile();
    EXPECT_EQ(state.SourceFileHandle, 0);
    EXPECT_EQ(Read(2, true), (Texts{"A", "B"}));
    state.SourceFileHandle = 0; // as the window does when the counters are reset
    EXPECT_EQ(Read(1, true), Texts{"A"});
    EXPECT_EQ(Read(1), Texts{none});
    EXPECT_EQ(Read(1, true), Texts{"A"});
}

TEST_F(Source, ReplaysTheSyslogDatagramsOfACaptureInFileOrder)
{
    Write(Capture({Udp("<13>first"), Udp("<191>second \x00\xFF"s), Udp("<0>third")}));
    EXPECT_EQ(Read(4), (Texts{"<13>first", "<191>second \x00\xFF"s, "<0>third", "<13>first"}));
    EXPECT_EQ(state.SourceFileHandle, 1);
    // Not even a capture: only the UDP header pattern counts.
    Write("junk\x02\x02\x00\x0E\x00\x00<5>abcdef"s);
    EXPECT_EQ(Read(2), (Texts{"<5>abc", "<5>abc"}));
    // The UDP header gives the length, even one past the data or one of 0x8000 and more.
    const std::string big = "<13>" + std::string(0x8010 - 12, 'x');
    Write(Capture({Udp(big), Udp("<1>abc", 10), Udp("<13>end", 108)}));
    EXPECT_EQ(Read(4), (Texts{big, "<1", "<13>end", big}));
}

// A regular file tells its size, so only what would not fit the reader's
// positions is refused, and without being read; what does not tell it may
// never end, and is refused after a bounded read.
TEST_F(Source, ReadsCapturesLargerThanAnEndlessDeviceMayBe)
{
    const std::uint64_t unsized = SourceFile::LargestUnsizedCapture, largest = SourceFile::LargestCapture;
    const struct {
        std::string path;
        std::uint64_t size; // 0: the path as it is
        std::string first;
        std::uint64_t limit;
    } cases[] = {
        {Path("big.pcap"), unsized + 1, "<13>big", largest},
        {Path("huge.pcap"), largest + 1, captureError, largest},
        {"/dev/zero", 0, captureError, unsized},
    };
    for (const auto &c : cases) {
        reader.CloseSourceFile();
        state.SourceFileName = c.path;
        if (c.size > 0) {
            // Sparse: the zeros after the datagram take no room on disk.
            std::ofstream(c.path, std::ios::binary) << Capture({Udp("<13>big")});
            std::filesystem::resize_file(c.path, c.size);
        }
        EXPECT_EQ(Read(2), (Texts{c.first, c.first})) << c.path;
        if (c.first == captureError) {
            EXPECT_EQ(reader.LastCaptureLimit(), c.limit) << c.path;
        }
        if (c.size > 0)
            std::filesystem::remove(c.path);
    }
}

TEST_F(Source, SkipsWhatIsNotASyslogDatagram)
{
    const std::pair<const char *, CapturedDatagram> decoys[] = {
        {"another port", Udp("<13>x", {}, 515)},
        {"source port ending in 0x02", Udp("<13>x", {}, 514, 0xC002)},
        {"not syslog", Udp("hello <13> there")},
        {"empty priority", Udp("<>nothing")},
        {"four-character priority", Udp("<1234>x")},
        {"0x3C in the checksum", Udp("<13>x", {}, 514, 49152, 0x123C)},
        {"0x3C in the length", Udp("<13>" + std::string(0x013C - 12, 'x'))},
        {"length 9", Udp("<13>x", 9)},
    };
    for (const auto &[why, decoy] : decoys) {
        Write(Capture({Udp("<13>before"), decoy, Udp("<14>after")}));
        EXPECT_EQ(Read(3), (Texts{"<13>before", "<14>after", "<13>before"})) << why;
    }
}

TEST_F(Source, GivesTheNoPacketsTextWithoutLoopingUntilTheSourceIsClosed)
{
    for (const std::string &bytes : {""s, Capture({Udp("no priority"), Udp("<13>x", 9)})}) {
        Write(bytes);
        EXPECT_EQ(Read(2), (Texts{none, none}));
        EXPECT_EQ(state.SourceFileHandle, 1);
    }
    Write(Capture({Udp("<13>now")}), false);
    EXPECT_EQ(Read(1), Texts{none});
    reader.CloseSourceFile();
    EXPECT_EQ(Read(1), Texts{"<13>now"});
}

TEST_F(Source, ReportsUnreadablePathsWithoutCreatingThemAndTriesAgainAtTheNextCall)
{
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder"));
    Write("1\t2\t3\tA\r\n");
    for (const std::string &path : {""s, Path("folder"), state.SourceFileName + "\0.ignored"s, Path("missing")}) {
        state.SourceFileName = path;
        EXPECT_EQ(Read(2, true), (Texts{textError, textError})) << path;
        EXPECT_EQ(state.SourceFileHandle, 0) << path;
        EXPECT_EQ(Read(2), (Texts{captureError, captureError})) << path;
        EXPECT_EQ(state.SourceFileHandle, 0) << path;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(state.SourceFileName)));
    Write(Capture({Udp("<13>arrived")}), false);
    EXPECT_EQ(Read(1), Texts{"<13>arrived"});

    state.SourceFileName = Path("text");
    EXPECT_EQ(Read(1, true), Texts{textError});
    Write("1\t2\t3\tA\r\n", false);
    EXPECT_EQ(Read(2, true), (Texts{"A", "A"}));
    // Removed while open: the reopen at the end fails, then the file comes back.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(Read(1, true), Texts{textError});
    Write("1\t2\t3\tB\r\n", false);
    EXPECT_EQ(Read(1, true), Texts{"B"});
}

TEST_F(Source, ACutWhileReplayingIsReportedOnceAndNeverSendsHalfALine)
{
    // Lines of 90-byte messages, far more than a read buffer holds, so a cut
    // lands in lines not read yet; text and hex lines are read alike.
    for (const std::string prefix : {"1\t2\t3\t", "HEX="}) {
        const std::size_t fill = 90 - (prefix == "HEX=" ? 4 : 0);
        std::string content;
        for (int i = 0; i < 3000; ++i)
            content += prefix + std::string(fill, "0123456789ABCDEF"[i % 16]) + "\r\n";
        const std::string first = (prefix == "HEX=" ? prefix : "") + std::string(fill, '0');
        for (const std::size_t cut : {150050u, 0u}) {
            Write(content);
            ASSERT_EQ(Read(1, true), Texts{first});
            std::filesystem::resize_file(state.SourceFileName, cut);
            std::string message;
            for (int read = 0; read < 3000 && message != textError; ++read) {
                message = reader.ReadSourceFileLine();
                ASSERT_TRUE(message.size() == 90 || message == textError) << prefix << cut << ": " << message;
            }
            EXPECT_EQ(message, textError) << prefix << cut;
            EXPECT_EQ(Read(1, true), Texts{cut ? first : ""}) << prefix << cut;
        }
    }
    // A capture is replayed from memory: removing it ends the replay only when it is loaded again.
    Write(Capture({Udp("<13>first"), Udp("<14>second")}));
    EXPECT_EQ(Read(1), Texts{"<13>first"});
    ASSERT_TRUE(QFile::remove(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(Read(2), (Texts{"<14>second", "<13>first"}));
    reader.CloseSourceFile();
    EXPECT_EQ(Read(1), Texts{captureError});
}
} // namespace
