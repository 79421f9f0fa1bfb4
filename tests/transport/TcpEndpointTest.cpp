#include "transport/SocketEndpoint.h"

#include "support/LoopbackReceivers.h"
#include "support/StuckListener.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
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

// A raw receiver on its own thread, so it reads while the sender blocks; its
// tiny buffer fills at once, and it reads nothing until started.
struct SlowReader {
    SlowReader()
    {
        const int small = 4096;
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), length);
        ::listen(listener, 1);
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~SlowReader() { Finish(); }
    void Start()
    {
        if (!thread.joinable())
            thread = std::thread([this] {
                const int session = ::accept(listener, nullptr, nullptr);
                char chunk[1024];
                for (ssize_t got; session >= 0 && (got = ::recv(session, chunk, sizeof chunk, 0)) > 0;)
                    received.append(chunk, static_cast<std::size_t>(got));
                ::close(session);
            });
    }
    // Waits for the sender to close; the bytes in the order they came.
    std::string Finish()
    {
        if (listener >= 0) {
            Start();
            ::shutdown(listener, SHUT_RDWR); // ends an accept still waiting
            thread.join();
            ::close(std::exchange(listener, -1));
        }
        return received;
    }
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 port = 0;
    std::string received;
    std::thread thread;
};

// Distinct bytes per packet, so a lost or swapped piece shows.
std::string NumberedPacket(int number, std::size_t size)
{
    std::string packet = "<" + std::to_string(number) + ">";
    packet.resize(size, static_cast<char>(number % 251));
    return packet;
}
} // namespace

TEST(TcpEndpoint, PacketsAndBatchesFormOneUninterruptedStream)
{
    std::vector<std::string> batch;
    std::string expected = "<14>first<14>second \x00\xff"s;
    for (int i = 0; i < 3000; ++i) { // more buffers than one gathered write takes
        batch.push_back(NumberedPacket(i, static_cast<std::size_t>(i % 50)));
        expected += batch.back();
    }
    const std::pair<const char *, QHostAddress> cases[] = {
        {"127.0.0.1", QHostAddress::LocalHost}, {"::1", QHostAddress::LocalHostIPv6}, {"localhost", QHostAddress::LocalHost}};
    for (const auto &[host, listenOn] : cases) {
        SCOPED_TRACE(host);
        TcpReceiver receiver(listenOn);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        ASSERT_TRUE(ConnectTo(TCP1, host, receiver.Port()));
        EXPECT_TRUE(TCP1.SendData("<14>first"));
        EXPECT_TRUE(TCP1.SendData("<14>second \x00\xff"s));
        EXPECT_EQ(TCP1.SendBatch(batch), batch.size());
        ASSERT_TRUE(receiver.WaitForBytes(expected.size()));
        EXPECT_EQ(receiver.Bytes(), expected);
    }
}

TEST(TcpEndpoint, FailedConnectionArrivesLaterAsOneErrorEvent)
{
    for (const char *host : {"127.0.0.1", "nohost.invalid"}) {
        SCOPED_TRACE(host);
        TcpReceiver closed;
        const quint16 port = closed.Port();
        closed.StopListening();
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        TCP1.SetRemoteHost(host);
        TCP1.SetRemotePort(port);
        ASSERT_TRUE(TCP1.Connect());
        EXPECT_EQ(errors.count(), 0);
        ASSERT_TRUE(errors.wait(5000));
        EXPECT_NE(TCP1.State(), SocketEndpoint::StateConnected);
        if (host == "127.0.0.1"s)
            EXPECT_EQ(QString::number(errors.at(0).at(0).toInt()) + ' ' + errors.at(0).at(1).toString(),
                      QStringLiteral("111 Connection refused"));
        else
            EXPECT_NE(errors.at(0).at(0).toInt(), 0);
        DeliverQueuedEvents();
        EXPECT_EQ(errors.count(), 1);
    }
}

// Noticed by writing, the kernel answers with a broken pipe: a signal that
// would end the process unless suppressed.
TEST(TcpEndpoint, PeerEndingTheSessionRaisesOneCloseEventWhetherNoticedByReadingOrWriting)
{
    for (const bool byWriting : {false, true}) {
        SCOPED_TRACE(byWriting);
        TcpReceiver receiver;
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", receiver.Port()));
        ASSERT_TRUE(receiver.WaitForConnection());
        receiver.CloseConnection();
        ASSERT_TRUE(byWriting || closes.wait(5000));
        bool failed = false;
        for (int i = 0; i < 100 && !failed; ++i)
            failed = !TCP1.SendData("into the void");
        EXPECT_TRUE(failed);
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StatePeerClosed);
        DeliverQueuedEvents();
        EXPECT_EQ(closes.count(), 1);
        EXPECT_EQ(errors.count(), 0);
    }
}

TEST(TcpEndpoint, CloseIsHarmlessInEveryStateAndRaisesNothing)
{
    TcpReceiver receiver;
    StuckListener stuck;
    ASSERT_TRUE(stuck.IsStuck());
    const std::pair<std::string, std::int16_t> cases[] = {{"", SocketEndpoint::StateClosed},
                                                          {"127.0.0.1", SocketEndpoint::StateConnected},
                                                          {stuck.Host(), SocketEndpoint::StateConnecting},
                                                          {"localhost", SocketEndpoint::StateResolving}};
    for (const auto &[host, stateBeforeClose] : cases) {
        SCOPED_TRACE(stateBeforeClose);
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        QSignalSpy closes(&TCP1, &SocketEndpoint::CloseEvent);
        QSignalSpy errors(&TCP1, &SocketEndpoint::ErrorEvent);
        TCP1.SetRemoteHost(host);
        TCP1.SetRemotePort(stateBeforeClose == SocketEndpoint::StateConnecting ? stuck.Port() : receiver.Port());
        ASSERT_TRUE(stateBeforeClose == SocketEndpoint::StateClosed || TCP1.Connect());
        ASSERT_TRUE(stateBeforeClose != SocketEndpoint::StateConnected ||
                    WaitUntil([&] { return TCP1.State() == SocketEndpoint::StateConnected; }));
        EXPECT_EQ(TCP1.State(), stateBeforeClose);
        TCP1.Close();
        TCP1.Close();
        DeliverQueuedEvents();
        EXPECT_EQ(TCP1.State(), SocketEndpoint::StateClosed);
        EXPECT_EQ(closes.count() + errors.count(), 0);
        EXPECT_TRUE(ConnectTo(TCP1, "127.0.0.1", receiver.Port())) << "reusable after Close";
    }
}

TEST(TcpEndpoint, ConnectRefusesToStartWithoutAUsableSetUp)
{
    TcpReceiver receiver;
    TcpReceiver occupied;
    struct Case {
        std::string host;
        std::int32_t port, localPort;
    };
    const Case cases[] = {{"", receiver.Port(), 0}, {"127.0.0.1", 0, 0}, {"127.0.0.1", receiver.Port(), occupied.Port()}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host + ':' + std::to_string(c.port) + ':' + std::to_string(c.localPort));
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
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

// The reader that waits for a refusal shows that a packet refused while the
// buffer stays full leaves no part in the stream.
TEST(TcpEndpoint, SlowReaderGetsEveryAcceptedByteInOrder)
{
    struct Case {
        const char *name;
        bool readAfterARefusal;
        bool (*drain)(SocketEndpoint &);
    };
    const Case cases[] = {
        {"by the event loop", true,
         [](SocketEndpoint &e) { return WaitUntil([&] { return e.PendingBytes() == 0; }, 30000); }},
        {"by FlushPending", false, [](SocketEndpoint &e) { return e.FlushPending(30000); }}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SlowReader reader;
        SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
        ASSERT_TRUE(ConnectTo(TCP1, "127.0.0.1", reader.port));
        std::string expected;
        bool pended = false, refused = false;
        for (int i = 0; i < 16 * 1024 && !refused && (c.readAfterARefusal || i < 3 * 1024); ++i) {
            const std::string packet = NumberedPacket(i, 4096);
            refused = !TCP1.SendData(packet);
            if (!refused)
                expected += packet;
            pended = pended || TCP1.PendingBytes() > 0;
            if (pended && !c.readAfterARefusal)
                reader.Start();
        }
        EXPECT_TRUE(pended);
        EXPECT_EQ(refused, c.readAfterARefusal);
        reader.Start();
        EXPECT_TRUE(c.drain(TCP1));
        TCP1.Close();
        const std::string received = reader.Finish();
        EXPECT_EQ(received.size(), expected.size());
        EXPECT_TRUE(received == expected);
    }
}
