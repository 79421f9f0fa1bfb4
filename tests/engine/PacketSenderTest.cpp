#include "engine/PacketBuilder.h"

#include "engine/MessageComposer.h"
#include "engine/PacketOptions.h"
#include "sources/SourceFile.h"
#include "support/AnsweringServices.h"
#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::string_literals;

namespace {
class Sender : public ::testing::Test {
protected:
    void SetUp() override
    {
        UDP1.SetRemoteHost("127.0.0.1");
        UDP1.SetRemotePort(udp.Port());
    }
    bool ConnectTcp()
    {
        TCP1.SetRemoteHost("127.0.0.1");
        TCP1.SetRemotePort(tcp.Port());
        return TCP1.Connect() && WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }) &&
               tcp.WaitForConnection();
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
    SettableClock clock;
    clock.now = LocalDateTime{2010, 3, 5, 14, 3, 9, 0};
    FixedComposeInputs inputs;
    inputs.rfcHeader = true;
    inputs.hostName = "HOSTNAME";
    state.SourceAddress = "10.1.2.3";
    state.MessageText = "Hello";
    SourceFile source(state);
    const ComposedMessage m = MessageComposer(state, inputs, clock, source).ComposeMessage(SendingKind::Single);
    sender.SendSyslogPacket(13, m.OriginalAddressText, m.RfcHeaderText, m.MessageBody);

    struct Case {
        std::string body;
        bool noPriority, pad, crlf;
        std::string expected;
    };
    const Case cases[] = {
        {"HEX=00 FF", false, false, false, "\x00\xFF"s},
        {"\x00\xFF"s, false, false, false, "<13>\x00\xFF"s},
        {"Hello", true, false, false, "Hello"},
        {"Hello", false, true, true, "<13>Hello" + std::string(2048, ' ') + "\r\n"},
        {"HEX=", false, false, false, ""},
    };
    std::vector<std::string> expected{"<13>Mar  5 14:03:09 HOSTNAME Quillon Original Address=10.1.2.3 Hello"};
    for (const auto &c : cases) {
        options.noPriority = c.noPriority;
        options.sendHugePackets = c.pad;
        options.addCrLf = c.crlf;
        sender.SendSyslogPacket(13, "", "", c.body);
        expected.push_back(c.expected);
    }
    ASSERT_TRUE(udp.WaitForDatagrams(expected.size()));
    EXPECT_EQ(udp.Datagrams(), expected);
    EXPECT_EQ(state.MessagesSent, static_cast<std::int32_t>(expected.size()));
}

TEST_F(Sender, CorruptsOnlyWhenTheCapturedChoiceIsOne)
{
    const std::string body(100, 'a');
    for (std::int16_t choice : {2, 1}) {
        state.CorruptData = choice;
        udp.Clear();
        for (int i = 0; i < 10; ++i)
            sender.SendSyslogPacket(13, "", "", body);
        ASSERT_TRUE(udp.WaitForDatagrams(10));
        const auto clean = std::count(udp.Datagrams().begin(), udp.Datagrams().end(), "<13>" + body);
        // A drawn code may equal the character it replaces.
        EXPECT_TRUE(choice == 1 ? clean <= 1 : clean == 10) << choice << ": " << clean;
    }
}

TEST_F(Sender, CountsOnlyWhatWasHandedOver)
{
    UDP1.SetRemotePort(0);
    sender.SendSyslogPacket(13, "", "", "lost");
    EXPECT_EQ(state.MessagesSent, 0);

    state.MessagesSent = 999999;
    UDP1.SetRemotePort(udp.Port());
    sender.SendSyslogPacket(13, "", "", "wraps");
    EXPECT_EQ(state.MessagesSent, 0);
    ASSERT_TRUE(udp.WaitForDatagrams(1));
    EXPECT_EQ(udp.Datagrams(), std::vector<std::string>{"<13>wraps"});
}

TEST_F(Sender, WritesTcpPacketsIntoOneStreamOnlyWhileConnected)
{
    options.transportIndex = 2; // any index but 0 is TCP
    sender.SendSyslogPacket(13, "", "", "no session yet");
    EXPECT_EQ(state.MessagesSent, 0);

    ASSERT_TRUE(ConnectTcp());
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
    EXPECT_EQ(udp.CountFor(100), 0u) << "TCP packets went over UDP";
}
} // namespace
