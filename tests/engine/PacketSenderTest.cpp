#include "engine/PacketBuilder.h"

#include "engine/MessageComposer.h"
#include "engine/PacketOptions.h"
#include "sources/SourceFile.h"
#include "support/AnsweringServices.h"
#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

class PacketSenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UDP1.SetRemoteHost("127.0.0.1");
        UDP1.SetRemotePort(udpReceiver.Port());
    }

    bool ConnectTcp()
    {
        TCP1.SetRemoteHost("127.0.0.1");
        TCP1.SetRemotePort(tcpReceiver.Port());
        return TCP1.Connect() && WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }) &&
               tcpReceiver.WaitForConnection();
    }

    SendState state;
    FixedPacketOptions options;
    UdpReceiver udpReceiver;
    TcpReceiver tcpReceiver;
    SocketEndpoint UDP1{SocketEndpoint::UdpProtocol};
    SocketEndpoint TCP1{SocketEndpoint::TcpProtocol};
    PacketSender sender{state, options, UDP1, TCP1};
};

TEST_F(PacketSenderTest, SendsTheExamplePacketOverUdp)
{
    SettableClock clock;
    clock.now = LocalDateTime{2010, 3, 5, 14, 3, 9, 0};
    FixedComposeInputs inputs;
    inputs.rfcHeader = true;
    inputs.hostName = "HOSTNAME";
    state.SourceAddress = "10.1.2.3";
    state.MessageText = "Hello";
    SourceFile source(state);
    MessageComposer composer(state, inputs, clock, source);
    const ComposedMessage m = composer.ComposeMessage(SendingKind::Single);

    sender.SendSyslogPacket(13, m.OriginalAddressText, m.RfcHeaderText, m.MessageBody);
    ASSERT_TRUE(udpReceiver.WaitForDatagrams(1));
    EXPECT_EQ(udpReceiver.Datagrams().at(0), "<13>Mar  5 14:03:09 HOSTNAME Quillon Original Address=10.1.2.3 Hello");
    EXPECT_EQ(state.MessagesSent, 1);
}

TEST_F(PacketSenderTest, SendsEachPacketAsOneDatagramWithTheOptionsOfTheMoment)
{
    struct Case {
        const char *why;
        std::string body;
        bool noPriority, pad, crlf;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", "Hello", false, false, false, "<13>Hello"},
        {"bytes 0x00 and 0xFF from hex", "HEX=00 FF", false, false, false, "\x00\xFF"s},
        {"bytes 0x00 and 0xFF in the body", "\x00\xFF"s, false, false, false, "<13>\x00\xFF"s},
        {"no priority", "Hello", true, false, false, "Hello"},
        {"oversize with CR LF", "Hello", false, true, true, "<13>Hello" + std::string(2048, ' ') + "\r\n"},
        {"empty hex body", "HEX=", false, false, false, ""},
    };
    std::vector<std::string> expected;
    for (const auto &c : cases) {
        options.noPriority = c.noPriority;
        options.sendHugePackets = c.pad;
        options.addCrLf = c.crlf;
        sender.SendSyslogPacket(13, "", "", c.body);
        expected.push_back(c.expected);
    }
    ASSERT_TRUE(udpReceiver.WaitForDatagrams(expected.size()));
    EXPECT_EQ(udpReceiver.Datagrams(), expected);
    EXPECT_EQ(state.MessagesSent, static_cast<std::int32_t>(expected.size()));
}

TEST_F(PacketSenderTest, CorruptsOnlyWhenTheCapturedChoiceIsOne)
{
    const std::string clean = "<13>" + std::string(100, 'a');
    for (std::int16_t choice : {0, -1, 2, 1}) {
        state.CorruptData = choice;
        udpReceiver.Clear();
        for (int i = 0; i < 20; ++i)
            sender.SendSyslogPacket(13, "", "", std::string(100, 'a'));
        ASSERT_TRUE(udpReceiver.WaitForDatagrams(20));
        int corrupted = 0;
        for (const std::string &datagram : udpReceiver.Datagrams()) {
            ASSERT_EQ(datagram.size(), clean.size());
            corrupted += datagram != clean;
        }
        if (choice == 1)
            EXPECT_GT(corrupted, 15);
        else
            EXPECT_EQ(corrupted, 0) << choice;
    }
}

TEST_F(PacketSenderTest, DoesNotCountAFailedHandOver)
{
    UDP1.SetRemotePort(0);
    sender.SendSyslogPacket(13, "", "", "lost");
    EXPECT_EQ(state.MessagesSent, 0);

    state.MessagesSent = 999999;
    UDP1.SetRemotePort(udpReceiver.Port());
    sender.SendSyslogPacket(13, "", "", "wraps");
    EXPECT_EQ(state.MessagesSent, 0);
    ASSERT_TRUE(udpReceiver.WaitForDatagrams(1));
    EXPECT_EQ(udpReceiver.Datagrams(), std::vector<std::string>{"<13>wraps"});
}

TEST_F(PacketSenderTest, WritesTcpPacketsIntoOneStream)
{
    for (int transport : {1, 2}) {
        options.transportIndex = transport;
        ASSERT_TRUE(ConnectTcp());
        state.MessagesSent = 0;
        sender.SendSyslogPacket(13, "", "", "first");
        options.addCrLf = true;
        sender.SendSyslogPacket(14, "", "", "second");
        options.addCrLf = false;
        const std::string expected = "<13>first<14>second\r\n";
        ASSERT_TRUE(tcpReceiver.WaitForBytes(expected.size()));
        EXPECT_EQ(tcpReceiver.Bytes(), expected);
        EXPECT_EQ(state.MessagesSent, 2);
        TCP1.Close();
    }
    // Nothing of it went over UDP.
    EXPECT_EQ(udpReceiver.CountFor(100), 0u);
}

TEST_F(PacketSenderTest, DropsTcpPacketsWithoutASession)
{
    options.transportIndex = 1;
    sender.SendSyslogPacket(13, "", "", "never sent");
    EXPECT_EQ(state.MessagesSent, 0);

    ASSERT_TRUE(ConnectTcp());
    sender.SendSyslogPacket(13, "", "", "sent");
    ASSERT_TRUE(tcpReceiver.WaitForBytes(8));
    EXPECT_EQ(tcpReceiver.Bytes(), "<13>sent");
    tcpReceiver.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return TCP1.State() != SocketEndpoint::StateConnected; }));
    sender.SendSyslogPacket(13, "", "", "after the peer closed");
    EXPECT_EQ(state.MessagesSent, 1);

    EXPECT_EQ(tcpReceiver.Connections(), 1);
    EXPECT_EQ(udpReceiver.CountFor(100), 0u);
}

} // namespace
