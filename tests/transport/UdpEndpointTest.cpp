#include "transport/SocketEndpoint.h"
#include "transport/UdpEndpointOperations.h"

#include "support/LoopbackReceivers.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {
struct UdpCase {
    const char *name;
    QHostAddress receiverAddress;
    std::string host;
};

const std::vector<UdpCase> &Families()
{
    static const std::vector<UdpCase> cases = {
        {"IPv4", QHostAddress::LocalHost, "127.0.0.1"},
        {"IPv6", QHostAddress::LocalHostIPv6, "::1"},
        {"name", QHostAddress::LocalHost, "localhost"},
    };
    return cases;
}

std::vector<std::string> Payloads()
{
    return {"<13>plain text", "\x00\x01\x7f\x80\xfe\xff"s, std::string(2048 + 100, 'x') + "\xff", ""};
}

void DeliverQueuedEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}
} // namespace

TEST(UdpEndpoint, EachSendIsOneDatagramOfExactlyTheBytesToTheLatestAddress)
{
    SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    std::vector<std::unique_ptr<UdpReceiver>> earlier;
    for (const UdpCase &c : Families()) {
        SCOPED_TRACE(c.name);
        auto receiver = std::make_unique<UdpReceiver>(c.receiverAddress);
        PrepareUdpEndpoint(UDP1, std::to_string(receiver->Port()), c.host);
        for (const std::string &payload : Payloads())
            EXPECT_TRUE(UDP1.SendData(payload));
        EXPECT_EQ(UDP1.State(), SocketEndpoint::StateOpen);
        ASSERT_TRUE(receiver->WaitForDatagrams(Payloads().size()));
        EXPECT_EQ(receiver->Datagrams(), Payloads());
        for (const auto &old : earlier)
            EXPECT_EQ(old->Datagrams().size(), Payloads().size()) << "sent to an address no longer set";
        earlier.push_back(std::move(receiver));
    }
}

TEST(UdpEndpoint, UnusableAddressFailsEverySendWithOneErrorPerAddressing)
{
    struct Case {
        const char *name;
        std::string host;
        std::string port;
    };
    const Case cases[] = {
        {"unresolvable", "nohost.invalid", "514"}, {"port 0", "127.0.0.1", "0"}, {"empty", "", "514"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
        QSignalSpy errors(&UDP1, &SocketEndpoint::ErrorEvent);
        for (int addressing = 1; addressing <= 2; ++addressing) {
            PrepareUdpEndpoint(UDP1, c.port, c.host);
            for (int i = 0; i < 20; ++i)
                EXPECT_FALSE(UDP1.SendData("packet"));
            EXPECT_EQ(errors.count(), addressing - 1) << "raised from inside SendData";
            DeliverQueuedEvents();
            ASSERT_EQ(errors.count(), addressing);
        }
        EXPECT_NE(errors.at(0).at(0).toInt(), 0);
        EXPECT_FALSE(errors.at(0).at(1).toString().isEmpty());

        UdpReceiver receiver;
        PrepareUdpEndpoint(UDP1, std::to_string(receiver.Port()), "127.0.0.1");
        EXPECT_TRUE(UDP1.SendData("recovered"));
        EXPECT_TRUE(receiver.WaitForDatagrams(1));
    }
}

TEST(UdpEndpoint, CloseIsHarmlessAndDropsEventsOfTheOldSocket)
{
    SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    QSignalSpy errors(&UDP1, &SocketEndpoint::ErrorEvent);
    QSignalSpy closes(&UDP1, &SocketEndpoint::CloseEvent);
    UDP1.Close();
    PrepareUdpEndpoint(UDP1, "514", "nohost.invalid");
    EXPECT_FALSE(UDP1.SendData("queued an error"));
    CloseUdpEndpoint(UDP1);
    CloseUdpEndpoint(UDP1);
    DeliverQueuedEvents();
    EXPECT_EQ(UDP1.State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(errors.count(), 0);
    EXPECT_EQ(closes.count(), 0);
}

TEST(UdpEndpoint, BatchSendsTheSameDatagramsAsSingleSends)
{
    std::vector<std::string> packets;
    for (int i = 0; i < 1500; ++i) // more than one sendmmsg call takes
        packets.push_back("<14>batch " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), '\0'));
    UdpReceiver one;
    UdpReceiver batch;
    SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    PrepareUdpEndpoint(UDP1, std::to_string(one.Port()), "127.0.0.1");
    for (const std::string &packet : packets)
        ASSERT_TRUE(UDP1.SendData(packet));
    PrepareUdpEndpoint(UDP1, std::to_string(batch.Port()), "127.0.0.1");
    EXPECT_EQ(UDP1.SendBatch(packets), packets.size());
    ASSERT_TRUE(one.WaitForDatagrams(packets.size()));
    ASSERT_TRUE(batch.WaitForDatagrams(packets.size()));
    EXPECT_EQ(batch.Datagrams(), one.Datagrams());
    EXPECT_EQ(one.Datagrams(), packets);
}

TEST(UdpEndpointOperations, PrepareReaddressesWithTheRoundedPort)
{
    struct Case {
        std::string portText;
        std::int32_t port;
    };
    const Case cases[] = {{"514", 514}, {" 1468 ", 1468}, {"514.5", 514}, {"515.5", 516}, {"0", 0},
                          {"-3", 0},    {"70000", 65535}, {"1e9", 65535}, {"junk", 0},    {"", 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.portText);
        SocketEndpoint endpoint(SocketEndpoint::TcpProtocol);
        PrepareUdpEndpoint(endpoint, c.portText, "localhost");
        EXPECT_EQ(endpoint.Protocol(), SocketEndpoint::UdpProtocol);
        EXPECT_EQ(endpoint.RemotePort(), c.port);
        EXPECT_EQ(endpoint.RemoteHost(), "localhost");
        EXPECT_EQ(endpoint.State(), SocketEndpoint::StateClosed);
    }
}

TEST(UdpEndpoint, LocalAddressIsANonLoopbackIPv4OrEmpty)
{
    const SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    const std::string ip = UDP1.LocalIP();
    if (!ip.empty()) {
        const QHostAddress address(QString::fromStdString(ip));
        EXPECT_EQ(address.protocol(), QAbstractSocket::IPv4Protocol) << ip;
        EXPECT_FALSE(address.isLoopback()) << ip;
    }
    EXPECT_FALSE(UDP1.LocalHostName().empty());
}
