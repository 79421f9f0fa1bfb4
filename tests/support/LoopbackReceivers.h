#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <string>
#include <vector>

// A UDP receiver on a loopback port the system picks; keeps every datagram.
class UdpReceiver {
public:
    explicit UdpReceiver(const QHostAddress &address = QHostAddress::LocalHost);
    quint16 Port() const;
    bool WaitForDatagrams(std::size_t count, int timeoutMs = 5000);
    const std::vector<std::string> &Datagrams();
    void Clear();

private:
    void Drain();
    QUdpSocket m_socket;
    std::vector<std::string> m_datagrams;
};

// Sends each datagram to 127.0.0.1:port from a socket of its own.
void SendDatagrams(int port, const std::vector<std::string> &datagrams);

// A loopback UDP port where nothing listens: bound by the system's choice,
// then closed, so datagrams to it come back refused.
quint16 ClosedUdpPort(const QHostAddress &address = QHostAddress::LocalHost);

// A TCP receiver on a loopback port (port 0: the system picks); accepts
// connections and keeps the bytes of the latest one.
class TcpReceiver {
public:
    explicit TcpReceiver(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    ~TcpReceiver();
    quint16 Port() const;
    bool WaitForConnection(int timeoutMs = 5000);
    bool WaitForBytes(std::size_t count, int timeoutMs = 5000);
    const std::string &Bytes();
    // Closes the accepted connection from this side (the peer closes).
    void CloseConnection();
    // Closes the listening socket: later connections are refused.
    void StopListening();
    int Connections() const { return m_connections; }

private:
    void Drain();
    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    std::string m_bytes;
    int m_connections = 0;
};
