#include "engine/PacketBuilder.h"

#include "engine/MessageComposer.h"

#include "engine/PacketOptions.h"
#include "engine/Priority.h"
#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"

#include <gtest/gtest.h>

#include <bitset>
#include <set>

using namespace std::string_literals;

namespace {
const std::string Pad(2048, ' ');

TEST(BuildSyslogPacket, CorruptsOneCharacterButNeverTheLastNorThePaddingOrCrLf)
{
    // A lone character can be replaced; otherwise any but the last.
    const std::tuple<std::string, bool, std::set<std::size_t>> cases[] = {{"HEX=41", false, {0}},
                                                                          {"msg", true, {0, 1, 2, 3, 4}}};
    for (const auto &[body, extras, expected] : cases) {
        const std::string clean = BuildSyslogPacket(5, "", "", body, false, false, extras, extras);
        std::set<std::size_t> positions;
        std::bitset<256> codes;
        for (int i = 0; i < 5000; ++i) {
            const std::string packet = BuildSyslogPacket(5, "", "", body, false, true, extras, extras);
            ASSERT_EQ(packet.size(), clean.size()) << body;
            int changed = 0;
            for (std::size_t p = 0; p < clean.size(); ++p)
                if (packet[p] != clean[p])
                    ++changed, positions.insert(p), codes.set(static_cast<unsigned char>(packet[p]));
            ASSERT_LE(changed, 1) << body;
        }
        for (char c : clean) // a code equal to the replaced character changes nothing
            codes.set(static_cast<unsigned char>(c));
        EXPECT_EQ(positions, expected) << body;
        EXPECT_EQ(codes, ~std::bitset<256>() >> 2 << 1) << body; // 1 to 254
    }
    EXPECT_EQ(BuildSyslogPacket(5, "", "", "", true, true, true, true), Pad + "\r\n");
}

// Digits of 0 to 999 are written directly, others as any number.
TEST(BuildSyslogPacket, WritesEveryPriorityInDecimal)
{
    for (const std::int32_t priority : {0, 9, 10, 100, 109, 990, 999, 1000, 32767, -5, -1000})
        EXPECT_EQ(BuildSyslogPacket(priority, "", "", "", false, false, false, false),
                  "<" + std::to_string(priority) + ">");
}

class Sender : public ::testing::Test {
protected:
    void SetUp() override
    {
        UDP1.SetRemoteHost("127.0.0.1");
        UDP1.SetRemotePort(udp.Port());
    }

    SendState state;
    FixedPacketOptions options;
    UdpReceiver udp;
    TcpReceiver tcp;
    SocketEndpoint UDP1{SocketEndpoint::UdpProtocol};
    SocketEndpoint TCP1{SocketEndpoint::TcpProtocol};
    PacketSender sender{state, options, UDP1, TCP1};
};

TEST_F(Sender, SendsEachPacketAsOneDatagramWithTheOptionsOfTheMoment)
{
    state.CorruptData = 2; // only 1 corrupts
    state.MessagesSent = 999995;
    UDP1.SetRemotePort(0);
    sender.SendSyslogPacket(13, "", "", "lost"); // not handed over, so not counted
    UDP1.SetRemotePort(udp.Port());
    // Options: n = no priority, p = padding, c = CR LF. Hex digits go in pairs, spaced
    // when the third character is a space; a non-digit ends a pair, no digit gives 0,
    // blanks inside a pair are skipped.
    const std::tuple<int, std::string, std::string, std::string> cases[] = {
        {0, "x", "", "<0>x"},         {13, "HEX=41 4", "", "A\x04"},      {7, "\x00\xFF"s, "", "<7>\x00\xFF"s},
        {13, "HEX=", "p", Pad},       {13, "HEX=41  42", "", "A\x04"},    {13, "m", "pc", "<13>m" + Pad + "\r\n"},
        {255, "x", "", "<255>x"},     {13, "hex=aBcD", "", "\xAB\xCD"},   {13, "HEX=3C 31 33 3E", "nc", "<13>\r\n"},
        {13, "Hello", "n", "Hello"},  {13, "HEX=00FF", "", "\x00\xFF"s},  {13, "HEX=41-42-43", "", "A\x00\x02\x43"s},
        {13, "HEX=414", "", "A\x04"}, {13, " HEX=41", "", "<13> HEX=41"},
    };
    std::vector<std::string> expected;
    for (const auto &[priority, body, flags, packet] : cases) {
        options.noPriority = flags.find('n') != std::string::npos;
        options.sendHugePackets = flags.find('p') != std::string::npos;
        options.addCrLf = flags.find('c') != std::string::npos;
        sender.SendSyslogPacket(static_cast<std::int16_t>(priority), "", "", body);
        expected.push_back(packet);
    }
    ASSERT_TRUE(udp.WaitForDatagrams(expected.size()));
    EXPECT_EQ(udp.Datagrams(), expected);
    EXPECT_EQ(state.MessagesSent, static_cast<std::int32_t>(999995 + expected.size() - 1000000)); // 999,999 wraps to 0

    // A drawn code may equal the character it replaces, but not twice running.
    state.CorruptData = 1;
    state.MessagesSent = 2147483647;
    sender.SendSyslogPacket(13, "", "", "corrupted");
    sender.SendSyslogPacket(13, "", "", "corrupted");
    EXPECT_EQ(state.MessagesSent, 1);
    ASSERT_TRUE(udp.WaitForDatagrams(expected.size() + 2));
    EXPECT_NE(udp.Datagrams()[expected.size()] + udp.Datagrams().back(), "<13>corrupted<13>corrupted");
}

TEST_F(Sender, WritesTcpPacketsIntoOneStreamOnlyWhileConnected)
{
    options.transportIndex = 2; // any index but 0 is TCP
    sender.SendSyslogPacket(13, "", "", "no session yet");
    EXPECT_EQ(state.MessagesSent, 0);

    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(tcp.Port());
    ASSERT_TRUE(TCP1.Connect() && WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }) &&
                tcp.WaitForConnection());
    sender.SendSyslogPacket(13, "", "", "first");
    options.addCrLf = true;
    sender.SendSyslogPacket(14, "", "", "second");
    ASSERT_TRUE(tcp.WaitForBytes(21));
    EXPECT_EQ(tcp.Bytes(), "<13>first<14>second\r\n");
    EXPECT_EQ(state.MessagesSent, 2);

    tcp.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return TCP1.State() != SocketEndpoint::StateConnected; }));
    sender.SendSyslogPacket(13, "", "", "after the peer closed");
    EXPECT_EQ(state.MessagesSent, 2);
    EXPECT_EQ(tcp.Connections(), 1);
    // Nothing went over UDP instead: the first datagram to arrive is this one.
    options.transportIndex = 0;
    sender.SendSyslogPacket(13, "", "", "udp");
    ASSERT_TRUE(udp.WaitForDatagrams(1));
    EXPECT_EQ(udp.Datagrams().front(), "<13>udp\r\n");
}

TEST_F(Sender, FramesComposedPacketsOnTcpOnly)
{
    options.transportIndex = 1;
    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(tcp.Port());
    ASSERT_TRUE(TCP1.Connect() && WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }) &&
                tcp.WaitForConnection());
    ComposedView message{"line 1\nline 2", "", "1 - h a p m -", "", MessageFormat::Rfc5424, false};
    const std::string packet = "<13>1 - h a p m - line 1\nline 2";
    const std::pair<Framing, std::string> cases[] = {
        {Framing::None, packet},       {Framing::Lf, packet + "\n"},          {Framing::CrLf, packet + "\r\n"},
        {Framing::Nul, packet + '\0'}, {Framing::OctetCount, "31 " + packet},
    };
    std::string expected;
    for (const auto &[framing, bytes] : cases) {
        options.framing = framing;
        sender.SendComposedPacket(13, message);
        expected += bytes;
    }
    const std::string binary = "\x00\xFF"s;
    message.MessageBody = binary;
    message.Format = MessageFormat::Rfc3164;
    options.addCrLf = true; // a terminator inside the frame, as built
    sender.SendComposedPacket(13, message);
    expected += "21 <13>1 - h a p m -\x00\xFF\r\n"s;
    ASSERT_TRUE(tcp.WaitForBytes(expected.size()));
    EXPECT_EQ(tcp.Bytes(), expected);

    options.transportIndex = 0;
    sender.SendComposedPacket(13, message);
    ASSERT_TRUE(udp.WaitForDatagrams(1));
    EXPECT_EQ(udp.Datagrams().front(), "<13>1 - h a p m -\x00\xFF\r\n"s);
}

TEST(MessagePriority, ReadsTheTypedValueOrTheLists)
{
    // Facility 2, level 3 give 19 whenever the lists decide; null leaves the box unchecked.
    const std::pair<const char *, std::int32_t> cases[] = {
        {"0", 0},       {"255", 255},   {"300", 191}, {"-1", 191},  {"12.5", 12},   {"13.5", 14},
        {"254.6", 255}, {"255.4", 191}, {"", 0},      {" 42x", 42}, {"1e999", 191}, {"random", 0},
        {"Random", 19}, {nullptr, 19},  {"1 2", 1},   {"&H2", 0},
    };
    FixedPriorityInputs inputs;
    inputs.facilityIndex = 2;
    inputs.levelIndex = 3;
    for (const auto &[text, expected] : cases) {
        inputs.usePriorityText = text != nullptr;
        inputs.priorityText = text ? text : "200";
        EXPECT_EQ(MessagePriority(inputs), expected) << (text ? text : "unchecked");
    }
    EXPECT_EQ(SelectedPriority(inputs), 19);
}

TEST(MessagePriority, DrawsTheRandomFacilityOrLevelAndKeepsTheOther)
{
    FixedPriorityInputs inputs;
    std::set<std::int32_t> seen, expected;
    for (int i = 0; i < 5000; ++i) {
        inputs.facilityIndex = RandomFacilityIndex, inputs.levelIndex = 3;
        seen.insert(MessagePriority(inputs));
        inputs.facilityIndex = 2, inputs.levelIndex = RandomLevelIndex;
        seen.insert(MessagePriority(inputs));
    }
    for (int k = 0; k < 24; ++k) // every facility at level 3, every level of facility 2
        expected.insert(k * 8 + 3), expected.insert(2 * 8 + k % 8);
    EXPECT_EQ(seen, expected);
}
} // namespace
