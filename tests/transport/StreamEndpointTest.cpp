#include "transport/AddressLookup.h"
#include "transport/SocketEndpoint.h"

#include "support/LoopbackReceivers.h"
#include "support/StuckListener.h"
#include "support/TestEnvironment.h"
#include "support/TlsLoopbackServer.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

using namespace std::string_literals;

// The stream endpoint (TCP, plain or TLS) as the window and quillon-send
// drive it: through SocketEndpoint.
namespace {
// wait false: only whether connecting could start.
bool ConnectTo(SocketEndpoint &TCP1, const std::string &host, quint16 port, bool wait = true)
{
    TCP1.SetRemoteHost(host);
    TCP1.SetRemotePort(port);
    return TCP1.Connect() && (!wait || WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }));
}

} // namespace

// What Connect can check at once it refuses; the peer's answer comes later.
TEST(StreamEndpoint, ConnectRefusesABadSetUpAndAConnectionRefusedArrivesLaterAsOneErrorEvent)
{
    TcpReceiver receiver, occupied, closed;
    const quint16 closedPort = closed.Port();
    closed.StopListening();
    const std::tuple<std::string, int, int> cases[] = {
        {"", receiver.Port(), 0}, {"127.0.0.1", 0, 0}, {"127.0.0.1", receiver.Port(), occupied.Port()}};
    for (const auto &[host, port, localPort] : cases) {
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        TCP1.SetLocalPort(localPort);
        EXPECT_FALSE(ConnectTo(TCP1, host, port)) << host << ':' << port << " from " << localPort;
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
    }
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(closedPort);
    ASSERT_TRUE(TCP1.Connect());
    EXPECT_FALSE(TCP1.Connect()) << "already under way";
    EXPECT_EQ(errors.count(), 0);
    ASSERT_TRUE(errors.wait(5000));
    EXPECT_NE(TCP1.State(), SocketEndpoint::StateConnected);
    EXPECT_EQ(QString::number(errors.at(0).at(0).toInt()) + ' ' + errors.at(0).at(1).toString(),
              QStringLiteral("111 Connection refused"));
    DeliverQueuedEvents();
    EXPECT_EQ(errors.count(), 1);
}

// "localhost" names 127.0.0.1 and ::1 in /etc/hosts (no DNS query); IPv4 is
// tried first. A refusal there is not reported: the next address is tried.
TEST(StreamEndpoint, ANameWhoseFirstAddressRefusesConnectsToTheNext)
{
    std::set<int> families;
    for (const SocketAddress &address : LookUpAddresses("localhost", 1, SOCK_STREAM, false).addresses)
        families.insert(address.Family());
    if (families != std::set<int>{AF_INET, AF_INET6})
        GTEST_SKIP() << "/etc/hosts does not give localhost both 127.0.0.1 and ::1";
    const std::pair<QHostAddress, QHostAddress> cases[] = {{QHostAddress::LocalHostIPv6, QHostAddress::LocalHost},
                                                           {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}};
    for (const auto &[refusing, listening] : cases) {
        SCOPED_TRACE(listening.toString().toStdString());
        // Bound without listening, the port refuses on that address alone.
        QTcpSocket refuser;
        ASSERT_TRUE(refuser.bind(refusing, 0));
        TcpReceiver receiver(listening, refuser.localPort());
        ASSERT_EQ(receiver.Port(), refuser.localPort());
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        ASSERT_TRUE(ConnectTo(TCP1, "localhost", receiver.Port()));
        EXPECT_TRUE(TCP1.SendData("<13>through"));
        EXPECT_TRUE(receiver.WaitForBytes(11));
        DeliverQueuedEvents();
        EXPECT_EQ(errors.count(), 0);
    }
}

TEST(StreamEndpoint, CloseIsHarmlessInEveryStateAndRaisesNothing)
{
    TcpReceiver receiver;
    StuckListener stuck;
    ASSERT_TRUE(stuck.IsStuck());
    const std::tuple<const char *, quint16, std::int16_t> cases[] = {
        {"", receiver.Port(), SocketEndpoint::StateClosed},
        {"127.0.0.1", receiver.Port(), SocketEndpoint::StateConnected},
        {stuck.Host(), stuck.Port(), SocketEndpoint::StateConnecting},
        {"localhost", receiver.Port(), SocketEndpoint::StateResolving}};
    for (const auto &[host, port, before] : cases) {
        SCOPED_TRACE(before);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        EXPECT_EQ(ConnectTo(TCP1, host, port, before == SocketEndpoint::StateConnected),
                  before != SocketEndpoint::StateClosed);
        EXPECT_EQ(TCP1.State(), before);
        TCP1.Close();
        TCP1.Close();
        DeliverQueuedEvents();
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
        EXPECT_EQ(closes.count() + errors.count(), 0);
        EXPECT_TRUE(ConnectTo(TCP1, "127.0.0.1", receiver.Port())) << "reusable after Close";
    }
}

// Read only after a refusal, the stream shows that a packet refused while the
// buffer stays full leaves no part in it, nor in the bytes acknowledged.
TEST(StreamEndpoint, SlowReaderGetsEveryAcceptedByteInOrder)
{
    for (const bool byFlushPending : {false, true}) {
        SCOPED_TRACE(byFlushPending ? "drained by FlushPending" : "drained by the event loop");
        TlsLoopbackServer::Options options;
        options.plain = options.holdReading = true;
        TlsLoopbackServer reader(options);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", reader.Port()));
        std::string expected;
        bool pended = false, refused = false;
        for (int i = 0; i < 16 * 1024 && !refused && (!byFlushPending || i < 3 * 1024); ++i) {
            const std::string packet = NumberedPacket(i, 4096);
            refused = !TCP1.SendData(packet);
            if (!refused)
                expected += packet;
            pended = pended || TCP1.PendingBytes() > 0;
            if (pended && byFlushPending)
                reader.Release();
        }
        EXPECT_TRUE(pended);
        EXPECT_EQ(refused, !byFlushPending);
        // Released early, the reader may have taken everything by now.
        if (!byFlushPending) {
            EXPECT_LT(TCP1.AcknowledgedBytes(), expected.size());
        }
        reader.Release();
        EXPECT_TRUE(byFlushPending ? TCP1.FlushPending(30000)
                                   : WaitUntil([&] { return TCP1.PendingBytes() == 0; }, 30000));
        EXPECT_TRUE(WaitUntil([&] { return TCP1.AcknowledgedBytes() == expected.size(); }))
            << TCP1.AcknowledgedBytes() << " of " << expected.size() << " acknowledged";
        TCP1.Close();
        ASSERT_TRUE(reader.WaitForSessionEnd(30000));
        const std::string received = reader.Bytes();
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected);
    }
}
