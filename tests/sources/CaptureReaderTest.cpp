#include "sources/SourceFile.h"

#include "support/PcapWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using namespace std::string_literals;

namespace {

class CaptureReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        state.SourceFileName = folder.filePath("capture.pcap").toStdString();
    }

    void Save(const PcapWriter &capture) { ASSERT_TRUE(capture.WriteTo(QString::fromStdString(state.SourceFileName))); }

    std::vector<std::string> Read(int count)
    {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i)
            out.push_back(reader.ReadCapturePacket());
        return out;
    }

    QTemporaryDir folder;
    SendState state;
    SourceFile reader{state};
};

CapturedDatagram Syslog(std::string payload)
{
    CapturedDatagram d;
    d.payload = std::move(payload);
    return d;
}

TEST_F(CaptureReader, ReplaysTheSyslogDatagramsInFileOrder)
{
    PcapWriter capture;
    capture.Add(Syslog("<13>first"));
    capture.Add(Syslog("<191>second \x00\xFF bytes"s));
    capture.Add(Syslog("<0>third"));
    Save(capture);
    EXPECT_EQ(Read(5), (std::vector<std::string>{"<13>first", "<191>second \x00\xFF bytes"s, "<0>third", "<13>first",
                                                 "<191>second \x00\xFF bytes"s}));
    EXPECT_EQ(state.SourceFileHandle, 1);
}

TEST_F(CaptureReader, SkipsWhatIsNotASyslogDatagram)
{
    struct Decoy {
        const char *why;
        CapturedDatagram datagram;
    };
    std::vector<Decoy> decoys;
    {
        CapturedDatagram d = Syslog("<13>to another port");
        d.destinationPort = 515;
        decoys.push_back({"another port", d});
    }
    decoys.push_back({"not syslog", Syslog("hello <13> there")});
    decoys.push_back({"empty priority", Syslog("<>nothing between")});
    decoys.push_back({"four-character priority", Syslog("<1234>too long")});
    {
        CapturedDatagram d = Syslog("<13>checksum");
        d.checksum = 0x3C00;
        decoys.push_back({"0x3C in the checksum high byte", d});
        d.checksum = 0x123C;
        decoys.push_back({"0x3C in the checksum low byte", d});
    }
    {
        // 0x013C: a true length whose low byte is "<".
        CapturedDatagram d = Syslog("<13>" + std::string(0x013C - 8 - 4, 'x'));
        decoys.push_back({"0x3C in the length", d});
    }
    {
        CapturedDatagram d = Syslog("<13>source port");
        d.sourcePort = 0xC002;
        decoys.push_back({"source port ending in 0x02", d});
    }
    for (int length : {0, 8, 9}) {
        CapturedDatagram d = Syslog("<13>short length");
        d.udpLength = static_cast<std::uint16_t>(length);
        decoys.push_back({"length 9 or less", d});
    }

    for (const auto &decoy : decoys) {
        PcapWriter capture;
        capture.Add(Syslog("<13>before"));
        capture.Add(decoy.datagram);
        capture.Add(Syslog("<14>after"));
        reader.CloseSourceFile();
        Save(capture);
        EXPECT_EQ(Read(3), (std::vector<std::string>{"<13>before", "<14>after", "<13>before"})) << decoy.why;
    }
}

TEST_F(CaptureReader, TakesThePayloadLengthFromTheUdpHeader)
{
    struct Case {
        const char *why;
        std::string payload;
        std::uint16_t udpLength;
        std::string expected;
    };
    const std::string big = "<13>" + std::string(0x8010 - 8 - 4, 'x');
    const Case cases[] = {
        {"length 10 gives two bytes", "<1>abc", 10, "<1"},
        {"shorter than the frame", "<13>Hello there", 8 + 9, "<13>Hello"},
        {"longer than the data: the rest", "<13>end", 8 + 100, "<13>end"},
        {"0x8000 and more is a length", big, 0x8010, big},
    };
    for (const auto &c : cases) {
        PcapWriter capture;
        capture.Add(Syslog("<13>first"));
        CapturedDatagram d = Syslog(c.payload);
        d.udpLength = c.udpLength;
        capture.Add(d);
        reader.CloseSourceFile();
        Save(capture);
        EXPECT_EQ(Read(3), (std::vector<std::string>{"<13>first", c.expected, "<13>first"})) << c.why;
    }
}

TEST_F(CaptureReader, FindsDatagramsInAnyBytes)
{
    // Not a capture at all: the scan looks only for the UDP header pattern.
    state.SourceFileName = folder.filePath("raw.bin").toStdString();
    const std::string raw = "junk\x02\x02\x00\x0E\x00\x00<5>abcdef"s;
    QFile file(QString::fromStdString(state.SourceFileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(raw.data(), static_cast<qint64>(raw.size()));
    file.close();
    EXPECT_EQ(Read(2), (std::vector<std::string>{"<5>abc", "<5>abc"}));
}

TEST_F(CaptureReader, GivesTheNoPacketsTextWithoutLooping)
{
    const std::string none(CaptureNoPacketsError);
    PcapWriter decoysOnly;
    decoysOnly.Add(Syslog("no priority"));
    decoysOnly.Add(Syslog("<>empty"));
    CapturedDatagram shortOne = Syslog("<13>x");
    shortOne.udpLength = 9;
    decoysOnly.Add(shortOne);
    const PcapWriter empty;

    struct Case {
        const char *why;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"header only", empty.Bytes()},
        {"every candidate fails", decoysOnly.Bytes()},
    };
    for (const auto &c : cases) {
        reader.CloseSourceFile();
        QFile file(QString::fromStdString(state.SourceFileName));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes.data(), static_cast<qint64>(c.bytes.size()));
        file.close();
        EXPECT_EQ(Read(2), (std::vector<std::string>{none, none})) << c.why;
        EXPECT_EQ(reader.CapturePosition(), 1) << c.why;
        EXPECT_TRUE(reader.CaptureData().empty()) << c.why;
        EXPECT_EQ(state.SourceFileHandle, 1) << c.why;
    }

    // The data was dropped: a good file is seen only after the source is closed.
    PcapWriter good;
    good.Add(Syslog("<13>now"));
    Save(good);
    EXPECT_EQ(reader.ReadCapturePacket(), none);
    reader.CloseSourceFile();
    EXPECT_EQ(reader.ReadCapturePacket(), "<13>now");
}

TEST_F(CaptureReader, NeverCreatesAMissingFileAndRetriesTheOpen)
{
    const std::string error(CaptureReadError);
    EXPECT_EQ(Read(2), (std::vector<std::string>{error, error}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(state.SourceFileHandle, 0);

    PcapWriter capture;
    capture.Add(Syslog("<13>arrived"));
    Save(capture);
    EXPECT_EQ(reader.ReadCapturePacket(), "<13>arrived");
}

TEST_F(CaptureReader, ReportsPathsThatCannotBeRead)
{
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder"));
    const std::string cases[] = {"", folder.filePath("folder").toStdString(),
                                 folder.filePath("no/such/folder/x.pcap").toStdString()};
    for (const auto &path : cases) {
        reader.CloseSourceFile();
        state.SourceFileName = path;
        EXPECT_EQ(reader.ReadCapturePacket(), std::string(CaptureReadError)) << path;
        EXPECT_EQ(state.SourceFileHandle, 0) << path;
    }
}

TEST_F(CaptureReader, StartsOverAndSeesChangesAfterTheFileIsClosed)
{
    PcapWriter first;
    first.Add(Syslog("<13>one"));
    first.Add(Syslog("<13>two"));
    Save(first);
    EXPECT_EQ(Read(1), std::vector<std::string>{"<13>one"});

    // Loaded once: a change to the file is not seen while it stays loaded.
    PcapWriter second;
    second.Add(Syslog("<14>new"));
    Save(second);
    EXPECT_EQ(Read(1), std::vector<std::string>{"<13>two"});

    reader.CloseSourceFile();
    EXPECT_EQ(Read(2), (std::vector<std::string>{"<14>new", "<14>new"}));
}

TEST_F(CaptureReader, ReloadsAsACaptureAfterTextWasRead)
{
    PcapWriter capture;
    capture.Add(Syslog("<13>one"));
    Save(capture);
    // As text the whole capture is one line with fewer than four tab fields.
    reader.ReadSourceFileLine();
    EXPECT_EQ(reader.ReadCapturePacket(), "<13>one");
}

} // namespace
