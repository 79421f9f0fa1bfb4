#include "transport/SocketEndpoint.h"

#include "support/LoopbackReceivers.h"
#include "support/StuckListener.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

using namespace std::string_literals;

namespace {
bool ConnectTo(SocketEndpoint &TCP1, const std::string &host, quint16 port)
{
    TCP1.SetRemoteHost(host);
    TCP1.SetRemotePort(port);
    return TCP1.Connect() && WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; });
}

void DeliverQueuedEvents()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// A raw loopback receiver on its own thread with a tiny receive buffer; it
// reads nothing until started and then only in small pieces.
class SlowReader {
public:
    SlowReader() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const int small = 4096;
        ::setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            const int session = ::accept(m_listener, nullptr, nullptr);
            m_go.wait(false);
            char chunk[1024];
            for (ssize_t got; session >= 0 && (got = ::recv(session, chunk, sizeof chunk, 0)) > 0;)
                m_received.append(chunk, static_cast<std::size_t>(got));
            ::close(session);
        });
    }
    ~SlowReader() { Finish(); }
    quint16 Port() const { return m_port; }
    void Start()
    {
        m_go = true;
        m_go.notify_one();
    }
    // Waits for the sender to close; the bytes in the order they came.
    std::string Finish()
    {
        if (m_thread.joinable()) {
            Start();
            ::shutdown(m_listener, SHUT_RDWR); // ends an accept still waiting
            m_thread.join();
            ::close(m_listener);
        }
        return m_received;
    }

private:
    int m_listener;
    quint16 m_port = 0;
    std::atomic<bool> m_go{false};
    std::string m_received;
    std::thread m_thread;
};

// Distinct bytes per packet, so a lost or swapped piece shows.
std::string NumberedPacket(int number, std::size_t size)
{
    std::string packet = "<" + std::to_string(number) + ">";
    packet.resize(size, static_cast<char>(number % 251));
    return packet;
}
} // namespace

TEST(TcpEndpoint, PacketsFormOneUninterruptedStream)
{
    struct Case {
        const char *host;
        QHostAddress listenOn;
    };
    const Case cases[] = {{"127.0.0.1", QHostAddress::LocalHost},
                          {"::1", QHostAddress::LocalHostIPv6},
                          {"localhost", QHostAddress::LocalHost}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host);
        TcpReceiver receiver(c.listenOn);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        ASSERT_TRUE(ConnectTo(TCP1, c.host, receiver.Port()));
        const std::string first = "<14>first";
        const std::string second = "<14>second \x00\xff"s;
        EXPECT_TRUE(TCP1.SendData(first));
        EXPECT_TRUE(TCP1.SendData(second));
        ASSERT_TRUE(receiver.WaitForBytes(first.size() + second.size()));
        EXPECT_EQ(receiver.Bytes(), first + second);
    }
}

TEST(TcpEndpoint, FailedConnectionArrivesLaterAsErrorEvent)
{
    struct Case {
        const char *host;
        QHostAddress listenOn;
        int number; // 0: whatever the resolver says
        const char *text;
    };
    const Case cases[] = {{"127.0.0.1", QHostAddress::LocalHost, 111, "Connection refused"},
                          {"::1", QHostAddress::LocalHostIPv6, 111, "Connection refused"},
                          {"nohost.invalid", QHostAddress::LocalHost, 0, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host);
        TcpReceiver closed(c.listenOn);
        const quint16 port = closed.Port();
        closed.StopListening();
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        TCP1.SetRemoteHost(c.host);
        TCP1.SetRemotePort(port);
        ASSERT_TRUE(TCP1.Connect());
        EXPECT_EQ(errors.count(), 0);
        ASSERT_TRUE(errors.wait(5000));
        EXPECT_NE(TCP1.State(), SocketEndpoint::StateConnected);
        const int number = errors.at(0).at(0).toInt();
        const QString text = errors.at(0).at(1).toString();
        if (c.number != 0) {
            EXPECT_EQ(number, c.number);
            EXPECT_EQ(text, QString::fromLatin1(c.text));
        } else {
            EXPECT_NE(number, 0);
            EXPECT_FALSE(text.isEmpty());
        }
        DeliverQueuedEvents();
        EXPECT_EQ(errors.count(), 1);
    }
}

TEST(TcpEndpoint, PeerEndingTheSessionRaisesCloseEventAndLaterSendsFail)
{
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", server.serverPort()));
        ASSERT_TRUE(WaitUntil([&] { return server.hasPendingConnections(); }));
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        if (reset) {
            const linger abortive{1, 0};
            ::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
        peer->abort();
        ASSERT_TRUE(closes.wait(5000));
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StatePeerClosed);
        EXPECT_FALSE(TCP1.SendData("too late"));
        DeliverQueuedEvents();
        EXPECT_EQ(closes.count(), 1);
        EXPECT_EQ(errors.count(), 0);
    }
}

TEST(TcpEndpoint, WritingIntoAnEndedSessionFailsWithoutEndingTheProcess)
{
    TcpReceiver receiver;
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
    QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
    ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", receiver.Port()));
    ASSERT_TRUE(receiver.WaitForConnection());
    receiver.CloseConnection();
    // No events in between: the endpoint has not seen the close yet, so the
    // kernel answers a write with a broken pipe (a signal, unless suppressed).
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i)
        failed = !TCP1.SendData("into the void");
    EXPECT_TRUE(failed);
    EXPECT_EQ(TCP1.State(), SocketEndpoint::StatePeerClosed);
    DeliverQueuedEvents();
    EXPECT_EQ(closes.count(), 1);
    EXPECT_EQ(errors.count(), 0);
}

TEST(TcpEndpoint, CloseIsHarmlessInEveryStateAndRaisesNothing)
{
    TcpReceiver receiver;
    StuckListener stuck;
    ASSERT_TRUE(stuck.IsStuck());
    struct Case {
        const char *name;
        std::string host;
        quint16 port;
        std::int16_t stateBeforeClose;
    };
    const Case cases[] = {{"never opened", "", 0, SocketEndpoint::StateClosed},
                          {"connected", "127.0.0.1", receiver.Port(), SocketEndpoint::StateConnected},
                          {"connecting", stuck.Host(), stuck.Port(), SocketEndpoint::StateConnecting},
                          {"resolving", "localhost", receiver.Port(), SocketEndpoint::StateResolving}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        if (c.stateBeforeClose == SocketEndpoint::StateConnected) {
            ASSERT_TRUE(ConnectTo(TCP1, c.host, c.port));
        } else if (c.stateBeforeClose != SocketEndpoint::StateClosed) {
            TCP1.SetRemoteHost(c.host);
            TCP1.SetRemotePort(c.port);
            ASSERT_TRUE(TCP1.Connect());
        }
        EXPECT_EQ(TCP1.State(), c.stateBeforeClose);
        TCP1.Close();
        TCP1.Close();
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
        DeliverQueuedEvents();
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
        EXPECT_EQ(closes.count(), 0);
        EXPECT_EQ(errors.count(), 0);
        EXPECT_TRUE(ConnectTo(TCP1, "127.0.0.1", receiver.Port())) << "reusable after Close";
    }
}

TEST(TcpEndpoint, DestroyingDuringANameLookupIsSafe)
{
    TcpReceiver receiver;
    auto TCP1 = std::make_unique<SocketEndpoint>(SocketEndpoint::TcpProtocol);
    TCP1->SetRemoteHost("localhost");
    TCP1->SetRemotePort(receiver.Port());
    ASSERT_TRUE(TCP1->Connect());
    EXPECT_EQ(TCP1->State(), SocketEndpoint::StateResolving);
    TCP1.reset();
    DeliverQueuedEvents();
}

TEST(TcpEndpoint, ConnectRefusesToStartWithoutAUsableSetUp)
{
    TcpReceiver receiver;
    TcpReceiver occupied;
    struct Case {
        const char *name;
        std::int32_t protocol;
        std::string host;
        std::int32_t port;
        std::int32_t localPort;
    };
    const Case cases[] = {
        {"UDP endpoint", SocketEndpoint::UdpProtocol, "127.0.0.1", receiver.Port(), 0},
        {"no host", SocketEndpoint::TcpProtocol, "", receiver.Port(), 0},
        {"port 0", SocketEndpoint::TcpProtocol, "127.0.0.1", 0, 0},
        {"port too large", SocketEndpoint::TcpProtocol, "127.0.0.1", 65536, 0},
        {"local port too large", SocketEndpoint::TcpProtocol, "127.0.0.1", receiver.Port(), 70000},
        {"local port in use", SocketEndpoint::TcpProtocol, "127.0.0.1", receiver.Port(), occupied.Port()}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SocketEndpoint TCP1(c.protocol);
        TCP1.SetRemoteHost(c.host);
        TCP1.SetRemotePort(c.port);
        TCP1.SetLocalPort(c.localPort);
        EXPECT_FALSE(TCP1.Connect());
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
    }
    SocketEndpoint connected(SocketEndpoint::TcpProtocol);
    ASSERT_TRUE(ConnectTo(connected, "127.0.0.1", receiver.Port()));
    EXPECT_FALSE(connected.Connect()) << "already connected";
}

TEST(TcpEndpoint, AChosenSourcePortLastsUntilClose)
{
    quint16 chosen = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        chosen = probe.serverPort();
    }
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    TCP1.SetLocalPort(chosen);
    for (const bool firstSession : {true, false}) {
        ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", server.serverPort()));
        ASSERT_TRUE(WaitUntil([&] { return server.hasPendingConnections(); }));
        const std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        EXPECT_EQ(peer->peerPort() == chosen, firstSession);
        TCP1.Close();
    }
}

TEST(TcpEndpoint, BatchIsTheSameStreamAsSingleSends)
{
    std::vector<std::string> packets;
    std::string expected;
    for (int i = 0; i < 3000; ++i) { // more buffers than one gathered write takes
        packets.push_back(NumberedPacket(i, static_cast<std::size_t>(i % 50)));
        expected += packets.back();
    }
    TcpReceiver receiver;
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", receiver.Port()));
    EXPECT_EQ(TCP1.SendBatch(packets), packets.size());
    ASSERT_TRUE(receiver.WaitForBytes(expected.size()));
    EXPECT_EQ(receiver.Bytes(), expected);
}

TEST(TcpEndpoint, SlowReaderGetsEveryByteInOrder)
{
    struct Case {
        const char *name;
        std::function<bool(SocketEndpoint &)> drain;
    };
    const Case cases[] = {{"by the event loop",
                           [](SocketEndpoint &e) { return WaitUntil([&] { return e.PendingBytes() == 0; }, 30000); }},
                          {"by FlushPending", [](SocketEndpoint &e) { return e.FlushPending(30000); }}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SlowReader reader;
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", reader.Port()));
        std::string expected;
        std::size_t mostPending = 0;
        for (int i = 0; i < 3 * 1024; ++i) { // 12 MiB, beyond what may wait in the buffer
            const std::string packet = NumberedPacket(i, 4096);
            EXPECT_TRUE(TCP1.SendData(packet));
            expected += packet;
            mostPending = std::max(mostPending, TCP1.PendingBytes());
            if (mostPending > 0)
                reader.Start();
        }
        reader.Start();
        EXPECT_GT(mostPending, 0u);
        EXPECT_TRUE(c.drain(TCP1));
        TCP1.Close();
        const std::string received = reader.Finish();
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected);
    }
}

// Packets refused while the buffer is full leave no part in the stream.
TEST(TcpEndpoint, AReceiverThatStopsReadingGetsOnlyWholePacketsAndAllAccepted)
{
    SlowReader reader;
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", reader.Port()));
    std::string expected;
    int refused = 0;
    for (int i = 0; i < 16 * 1024 && refused < 20; ++i) {
        const std::string packet = NumberedPacket(i, 4096);
        if (TCP1.SendData(packet))
            expected += packet;
        else
            ++refused;
    }
    EXPECT_EQ(refused, 20);
    reader.Start();
    EXPECT_TRUE(WaitUntil([&] { return TCP1.PendingBytes() == 0; }, 30000));
    TCP1.Close();
    const std::string received = reader.Finish();
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}
