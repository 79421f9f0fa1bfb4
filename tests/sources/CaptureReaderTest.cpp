#include "sources/SourceFile.h"

#include "support/PcapWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using namespace std::string_literals;
using Payloads = std::vector<std::string>;

namespace {
CapturedDatagram Udp(std::string payload, std::optional<std::uint16_t> length = {}, std::uint16_t to = 514,
                     std::uint16_t from = 49152, std::optional<std::uint16_t> checksum = {})
{
    return CapturedDatagram{from, to, std::move(payload), length, checksum};
}

class CaptureReader : public ::testing::Test {
protected:
    void SetUp() override { state.SourceFileName = folder.filePath("capture.pcap").toStdString(); }
    void Save(const std::string &bytes)
    {
        reader.CloseSourceFile();
        QFile file(QString::fromStdString(state.SourceFileName));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    void Save(const std::vector<CapturedDatagram> &datagrams)
    {
        PcapWriter capture;
        for (const auto &d : datagrams)
            capture.Add(d);
        Save(capture.Bytes());
    }
    Payloads Read(std::size_t count)
    {
        Payloads out;
        while (out.size() < count)
            out.push_back(reader.ReadCapturePacket());
        return out;
    }

    QTemporaryDir folder;
    SendState state;
    SourceFile reader{state};
    const std::string none{CaptureNoPacketsError};
};

TEST_F(CaptureReader, ReplaysTheSyslogDatagramsInFileOrder)
{
    Save({Udp("<13>first"), Udp("<191>second \x00\xFF"s), Udp("<0>third")});
    EXPECT_EQ(Read(4), (Payloads{"<13>first", "<191>second \x00\xFF"s, "<0>third", "<13>first"}));
    EXPECT_EQ(state.SourceFileHandle, 1);
    // Not even a capture: only the UDP header pattern counts.
    Save("junk\x02\x02\x00\x0E\x00\x00<5>abcdef"s);
    EXPECT_EQ(Read(2), (Payloads{"<5>abc", "<5>abc"}));
}

TEST_F(CaptureReader, SkipsWhatIsNotASyslogDatagram)
{
    const std::pair<const char *, CapturedDatagram> decoys[] = {
        {"another port", Udp("<13>x", {}, 515)},
        {"not syslog", Udp("hello <13> there")},
        {"empty priority", Udp("<>nothing")},
        {"four-character priority", Udp("<1234>x")},
        {"0x3C in the checksum", Udp("<13>x", {}, 514, 49152, 0x3C00)},
        {"0x3C in the checksum low byte", Udp("<13>x", {}, 514, 49152, 0x123C)},
        {"0x3C in the length", Udp("<13>" + std::string(0x013C - 12, 'x'))},
        {"source port ending in 0x02", Udp("<13>x", {}, 514, 0xC002)},
        {"length 9", Udp("<13>x", 9)},
        {"length 0", Udp("<13>x", 0)},
    };
    for (const auto &[why, decoy] : decoys) {
        Save({Udp("<13>before"), decoy, Udp("<14>after")});
        EXPECT_EQ(Read(3), (Payloads{"<13>before", "<14>after", "<13>before"})) << why;
    }
}

TEST_F(CaptureReader, TakesThePayloadLengthFromTheUdpHeader)
{
    const std::string big = "<13>" + std::string(0x8010 - 12, 'x');
    const std::tuple<std::string, std::uint16_t, std::string> cases[] = {
        {"<1>abc", 10, "<1"},
        {"<13>Hello there", 17, "<13>Hello"},
        {"<13>end", 108, "<13>end"}, // longer than the data: the rest of it
    };
    for (const auto &[payload, length, expected] : cases) {
        Save({Udp("<13>first"), Udp(payload, length)});
        EXPECT_EQ(Read(3), (Payloads{"<13>first", expected, "<13>first"})) << payload;
    }
    // 0x8000 and more is a length like any other.
    Save({Udp(big), Udp("<13>after")});
    EXPECT_EQ(Read(3), (Payloads{big, "<13>after", big}));
}

TEST_F(CaptureReader, GivesTheNoPacketsTextWithoutLoopingUntilTheSourceIsClosed)
{
    PcapWriter decoys;
    for (const auto &d : {Udp("no priority"), Udp("<>empty"), Udp("<13>x", 9)})
        decoys.Add(d);
    for (const std::string &bytes : {""s, PcapWriter().Bytes(), decoys.Bytes()}) {
        Save(bytes);
        EXPECT_EQ(Read(2), (Payloads{none, none}));
        EXPECT_EQ(reader.CapturePosition(), 1);
        EXPECT_TRUE(reader.CaptureData().empty());
        EXPECT_EQ(state.SourceFileHandle, 1);
    }
    PcapWriter good;
    good.Add(Udp("<13>now"));
    ASSERT_TRUE(good.WriteTo(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(reader.ReadCapturePacket(), none);
    reader.CloseSourceFile();
    EXPECT_EQ(reader.ReadCapturePacket(), "<13>now");

    // Loaded once: later changes are seen only after the source is closed.
    Save({Udp("<13>one"), Udp("<13>two")});
    EXPECT_EQ(Read(1), Payloads{"<13>one"});
    ASSERT_TRUE(good.WriteTo(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(Read(2), (Payloads{"<13>two", "<13>one"}));
}

TEST_F(CaptureReader, NeverCreatesAMissingFileAndTriesAgainAtTheNextCall)
{
    const std::string error(CaptureReadError);
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder"));
    for (const QString &path : {QString(), folder.filePath("folder"), folder.filePath("no/such/x.pcap")}) {
        reader.CloseSourceFile();
        state.SourceFileName = path.toStdString();
        EXPECT_EQ(reader.ReadCapturePacket(), error) << path.toStdString();
        EXPECT_EQ(state.SourceFileHandle, 0);
    }
    state.SourceFileName = folder.filePath("capture.pcap").toStdString();
    EXPECT_EQ(Read(2), (Payloads{error, error}));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(state.SourceFileName)));
    PcapWriter capture;
    capture.Add(Udp("<13>arrived"));
    ASSERT_TRUE(capture.WriteTo(QString::fromStdString(state.SourceFileName)));
    EXPECT_EQ(reader.ReadCapturePacket(), "<13>arrived");
}
} // namespace
