#include "handlers/PacketSender.h"

#include "engine/MessageComposer.h"
#include "engine/PacketOptions.h"
#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {
const std::string Pad(2048, ' ');

class PacketSending : public ::testing::Test {
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

TEST_F(PacketSending, SendsEachPacketAsOneDatagramWithTheOptionsOfTheMoment)
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

TEST_F(PacketSending, WritesTcpPacketsIntoOneStreamOnlyWhileConnected)
{
    options.transportIndex = 2; // any index but 0 is TCP
    sender.SendSyslogPacket(13, "", "", "no session yet");
    EXPECT_EQ(state.MessagesSent, 0);

    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(tcp.Port());
    ASSERT_TRUE(TCP1.Connect());
    ASSERT_TRUE(WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }));
    ASSERT_TRUE(tcp.WaitForConnection());
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

TEST_F(PacketSending, FramesComposedPacketsOnTcpOnly)
{
    options.transportIndex = 1;
    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(tcp.Port());
    ASSERT_TRUE(TCP1.Connect());
    ASSERT_TRUE(WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }));
    ASSERT_TRUE(tcp.WaitForConnection());
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
} // namespace
