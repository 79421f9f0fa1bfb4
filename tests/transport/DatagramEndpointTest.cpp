#include "transport/SocketEndpoint.h"
#include "transport/UdpEndpointOperations.h"

#include "support/LoopbackReceivers.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using namespace std::string_literals;

// The datagram endpoint as the window and quillon-send drive it: through
// SocketEndpoint.
TEST(DatagramEndpoint, EachSendAndEachBatchedPacketIsOneDatagramOfExactlyTheBytesToTheLatestAddress)
{
    const std::vector<std::string> payloads = {"<13>plain", "\x00\x01\x7f\x80\xfe\xff"s,
                                               std::string(2148, 'x') + "\xff", ""};
    std::vector<std::string> batch, all = payloads;
    for (int i = 0; i < 1500; ++i) // more than one sendmmsg call takes
        batch.push_back("<14>batch " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 7), '\0'));
    all.insert(all.end(), batch.begin(), batch.end());
    const std::pair<QHostAddress, std::string> cases[] = {{QHostAddress::LocalHost, "127.0.0.1"},
                                                          {QHostAddress::LocalHostIPv6, "::1"},
                                                          {QHostAddress::LocalHost, "localhost"}};
    SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    std::vector<std::unique_ptr<UdpReceiver>> earlier;
    for (const auto &[address, host] : cases) {
        SCOPED_TRACE(host);
        auto receiver = std::make_unique<UdpReceiver>(address);
        PrepareUdpEndpoint(UDP1, std::to_string(receiver->Port()), host);
        for (const std::string &payload : payloads)
            EXPECT_TRUE(UDP1.SendData(payload));
        EXPECT_EQ(UDP1.SendBatch(batch), batch.size());
        ASSERT_TRUE(receiver->WaitForDatagrams(all.size()));
        EXPECT_EQ(receiver->Datagrams(), all);
        for (const auto &old : earlier)
            EXPECT_EQ(old->Datagrams().size(), all.size()) << "sent to an address no longer set";
        earlier.push_back(std::move(receiver));
    }
}

// Close drops the error still queued for the old socket.
TEST(DatagramEndpoint, UnusableAddressFailsEverySendWithOneErrorPerAddressingAndCloseSilences)
{
    const std::pair<const char *, const char *> cases[] = {{"no..host", "514"}, {"127.0.0.1", "0"}};
    for (const auto &[host, port] : cases) {
        SCOPED_TRACE(host);
        SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
        QSignalSpy errors(&UDP1, &SocketEndpoint::ErrorEvent);
        QSignalSpy closes(&UDP1, &SocketEndpoint::CloseEvent);
        UDP1.Close();
        for (int addressing = 1; addressing <= 2; ++addressing) {
            PrepareUdpEndpoint(UDP1, port, host);
            for (int i = 0; i < 20; ++i)
                EXPECT_FALSE(UDP1.SendData("packet"));
            EXPECT_EQ(errors.count(), addressing - 1) << "raised from inside SendData";
            QCoreApplication::processEvents();
            ASSERT_EQ(errors.count(), addressing);
        }
        EXPECT_NE(errors.at(0).at(0).toInt(), 0);
        EXPECT_FALSE(errors.at(0).at(1).toString().isEmpty());
        PrepareUdpEndpoint(UDP1, port, host);
        EXPECT_FALSE(UDP1.SendData("queued an error"));
        CloseUdpEndpoint(UDP1);
        CloseUdpEndpoint(UDP1);
        QCoreApplication::processEvents();
        EXPECT_EQ(UDP1.State(), SocketEndpoint::StateClosed);
        EXPECT_EQ(errors.count() + closes.count(), 2);

        UdpReceiver receiver;
        PrepareUdpEndpoint(UDP1, std::to_string(receiver.Port()), "127.0.0.1");
        EXPECT_TRUE(UDP1.SendData("recovered"));
        EXPECT_TRUE(receiver.WaitForDatagrams(1));
    }
}

// Each refusal the kernel reports names one datagram, so all are counted;
// sending goes on, with one report per failure. A datagram that drew no
// refusal for two seconds got through: a refusal after it is a new failure.
TEST(DatagramEndpoint, RefusedDatagramsAreCountedAndReportedOncePerFailureWhileSendingGoesOn)
{
    const std::vector<std::string> batch(300, "<13>batched");
    for (const QHostAddress &address :
         {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        SCOPED_TRACE(address.toString().toStdString());
        const quint16 port = ClosedUdpPort(address);
        SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
        auto now = std::chrono::steady_clock::now();
        UDP1.SetRefusalClock([&now] { return now; });
        QSignalSpy errors(&UDP1, &SocketEndpoint::ErrorEvent);
        PrepareUdpEndpoint(UDP1, std::to_string(port), address.toString().toStdString());
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(UDP1.SendData("<13>single"));
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(UDP1.SendBatch(batch), batch.size());
        EXPECT_TRUE(WaitUntil([&] { return UDP1.RefusedDatagrams() == 320; })) << UDP1.RefusedDatagrams();
        QCoreApplication::processEvents();
        ASSERT_EQ(errors.count(), 1);
        EXPECT_EQ(errors.at(0).at(0).toInt(), ECONNREFUSED);
        EXPECT_EQ(errors.at(0).at(1).toString(), QStringLiteral("Connection refused"));

        // A datagram delivered, then the port closed again: the refusal that
        // follows is the same failure until two seconds passed without one.
        const std::pair<std::chrono::milliseconds, int> quietPeriods[] = {{std::chrono::milliseconds(1999), 1},
                                                                          {std::chrono::milliseconds(2000), 2}};
        std::uint64_t refused = 320;
        for (const auto &[quiet, reports] : quietPeriods) {
            SCOPED_TRACE(quiet.count());
            QUdpSocket receiver;
            ASSERT_TRUE(receiver.bind(address, port));
            EXPECT_TRUE(UDP1.SendData("<13>delivered"));
            ASSERT_TRUE(receiver.waitForReadyRead(5000));
            now += quiet;
            receiver.close();
            EXPECT_TRUE(UDP1.SendData("<13>refused again"));
            ++refused;
            EXPECT_TRUE(WaitUntil([&] { return UDP1.RefusedDatagrams() == refused; })) << UDP1.RefusedDatagrams();
            QCoreApplication::processEvents();
            EXPECT_EQ(errors.count(), reports);
        }
    }
}
