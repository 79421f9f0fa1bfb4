#include "support/LoopbackReceivers.h"

#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

UdpReceiver::UdpReceiver(const QHostAddress &address)
{
    m_socket.bind(address, 0);
    // Bursts of several hundred datagrams must not be dropped by the kernel.
    m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024 * 1024);
}

quint16 UdpReceiver::Port() const
{
    return m_socket.localPort();
}

void UdpReceiver::Drain()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        const QByteArray data = datagram.data();
        m_datagrams.emplace_back(data.constData(), static_cast<std::size_t>(data.size()));
    }
}

bool UdpReceiver::WaitForDatagrams(std::size_t count, int timeoutMs)
{
    return WaitUntil(
        [&] {
            Drain();
            return m_datagrams.size() >= count;
        },
        timeoutMs);
}

const std::vector<std::string> &UdpReceiver::Datagrams()
{
    Drain();
    return m_datagrams;
}

quint16 ClosedUdpPort(const QHostAddress &address)
{
    QUdpSocket socket;
    socket.bind(address, 0);
    return socket.localPort();
}

void UdpReceiver::Clear()
{
    Drain();
    m_datagrams.clear();
}

TcpReceiver::TcpReceiver(const QHostAddress &address, quint16 port)
{
    m_server.listen(address, port);
}

TcpReceiver::~TcpReceiver()
{
    delete m_client;
}

quint16 TcpReceiver::Port() const
{
    return m_server.serverPort();
}

void TcpReceiver::Drain()
{
    while (m_server.hasPendingConnections()) {
        QTcpSocket *next = m_server.nextPendingConnection();
        next->setParent(nullptr);
        delete m_client;
        m_client = next;
        m_bytes.clear();
        ++m_connections;
    }
    if (m_client) {
        const QByteArray data = m_client->readAll();
        m_bytes.append(data.constData(), static_cast<std::size_t>(data.size()));
    }
}

bool TcpReceiver::WaitForConnection(int timeoutMs)
{
    return WaitUntil(
        [&] {
            Drain();
            return m_client != nullptr;
        },
        timeoutMs);
}

bool TcpReceiver::WaitForBytes(std::size_t count, int timeoutMs)
{
    return WaitUntil(
        [&] {
            Drain();
            return m_bytes.size() >= count;
        },
        timeoutMs);
}

const std::string &TcpReceiver::Bytes()
{
    Drain();
    return m_bytes;
}

void TcpReceiver::CloseConnection()
{
    Drain();
    if (m_client) {
        m_client->close();
        delete m_client;
        m_client = nullptr;
    }
}

void TcpReceiver::StopListening()
{
    m_server.close();
}

void SendDatagrams(int port, const std::vector<std::string> &datagrams)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const std::string &datagram : datagrams)
        EXPECT_EQ(::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&target),
                           sizeof target),
                  static_cast<ssize_t>(datagram.size()));
    ::close(fd);
}
