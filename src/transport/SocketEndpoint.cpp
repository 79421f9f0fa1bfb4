#include "transport/SocketEndpoint.h"

#include "transport/DatagramEndpoint.h"
#include "transport/StreamEndpoint.h"

#include <QHostInfo>
#include <QNetworkInterface>

SocketEndpoint::SocketEndpoint(std::int32_t protocol, QObject *parent)
    : QObject(parent), m_protocol(protocol), m_datagram(new DatagramEndpoint(this)), m_stream(new StreamEndpoint(this))
{
    connect(m_datagram, &DatagramEndpoint::ErrorEvent, this, &SocketEndpoint::ErrorEvent);
    connect(m_stream, &StreamEndpoint::ErrorEvent, this, &SocketEndpoint::ErrorEvent);
    connect(m_stream, &StreamEndpoint::CloseEvent, this, &SocketEndpoint::CloseEvent);
    connect(m_stream, &StreamEndpoint::ConnectEvent, this, &SocketEndpoint::ConnectEvent);
}

SocketEndpoint::~SocketEndpoint() = default;

std::int32_t SocketEndpoint::Protocol() const
{
    return m_protocol;
}

void SocketEndpoint::SetProtocol(std::int32_t protocol)
{
    if (protocol == m_protocol)
        return;
    Close();
    m_protocol = protocol;
}

const std::string &SocketEndpoint::RemoteHost() const
{
    return m_remoteHost;
}

void SocketEndpoint::SetRemoteHost(const std::string &host)
{
    m_remoteHost = host;
    m_datagram->SetTarget(m_remoteHost, m_remotePort);
}

std::int32_t SocketEndpoint::RemotePort() const
{
    return m_remotePort;
}

void SocketEndpoint::SetRemotePort(std::int32_t port)
{
    m_remotePort = port;
    m_datagram->SetTarget(m_remoteHost, m_remotePort);
}

void SocketEndpoint::SetSocketPath(const std::string &path)
{
    m_socketPath = path;
    m_datagram->SetSocketPath(path);
}

std::int32_t SocketEndpoint::LocalPort() const
{
    return m_localPort;
}

void SocketEndpoint::SetLocalPort(std::int32_t port)
{
    m_localPort = port;
    m_datagram->SetLocalPort(port);
}

std::string SocketEndpoint::LocalIP() const
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                return ip.toString().toStdString();
        }
    }
    return {};
}

std::string SocketEndpoint::LocalHostName() const
{
    return QHostInfo::localHostName().toStdString();
}

std::int16_t SocketEndpoint::State() const
{
    return IsUdp() ? m_datagram->State() : m_stream->State();
}

void SocketEndpoint::Close(std::chrono::milliseconds flushLimit)
{
    m_datagram->Close();
    m_stream->Close(flushLimit);
    // A chosen source port belongs to the session it was set for: the connect
    // command sets it again when wanted, and otherwise the system chooses.
    SetLocalPort(0);
}

bool SocketEndpoint::Connect()
{
    if (IsUdp())
        return false;
    return m_socketPath.empty() ? m_stream->Connect(m_remoteHost, m_remotePort, m_localPort)
                                : m_stream->ConnectPath(m_socketPath);
}

bool SocketEndpoint::SendData(std::string_view data)
{
    if (!IsUdp())
        return m_stream->SendPacket(data);
    const std::string_view packets[] = {data};
    return m_datagram->Send(packets) == 1;
}

std::size_t SocketEndpoint::SendBatch(const std::vector<std::string> &packets)
{
    if (!IsUdp())
        return 0;
    const std::vector<std::string_view> views(packets.begin(), packets.end());
    return m_datagram->Send(views);
}

bool SocketEndpoint::SendStream(std::string_view bytes)
{
    return !IsUdp() && m_stream->SendStream(bytes);
}

bool SocketEndpoint::SendStream(std::string_view bytes, std::chrono::milliseconds waitLimit)
{
    return !IsUdp() && m_stream->SendStream(bytes, waitLimit);
}

std::uint64_t SocketEndpoint::RefusedDatagrams()
{
    return IsUdp() ? m_datagram->Refused() : 0;
}

void SocketEndpoint::SetRefusalClock(std::function<std::chrono::steady_clock::time_point()> now)
{
    m_datagram->SetRefusalClock(std::move(now));
}

void SocketEndpoint::SetTls(std::shared_ptr<const TlsClientContext> context)
{
    m_stream->SetTls(std::move(context));
}

const std::shared_ptr<const TlsClientContext> &SocketEndpoint::Tls() const
{
    return m_stream->Tls();
}

void SocketEndpoint::SetProxyHeader(int version, const ProxyAddress &source)
{
    m_stream->SetProxyHeader(version, source);
}

const std::string &SocketEndpoint::NegotiatedTlsVersion() const
{
    return m_stream->NegotiatedTlsVersion();
}

const std::string &SocketEndpoint::NegotiatedCipher() const
{
    return m_stream->NegotiatedCipher();
}

std::size_t SocketEndpoint::PendingBytes() const
{
    return m_stream->PendingBytes();
}

std::uint64_t SocketEndpoint::AcknowledgedBytes() const
{
    return m_stream->AcknowledgedBytes();
}

bool SocketEndpoint::FlushPending(int timeoutMs)
{
    return m_stream->Flush(timeoutMs);
}

bool SocketEndpoint::FlushTaken(int timeoutMs)
{
    return m_stream->FlushTaken(timeoutMs);
}

std::size_t SocketEndpoint::UntakenBytes() const
{
    return m_stream->UntakenBytes();
}

std::chrono::nanoseconds SocketEndpoint::BlockedTime() const
{
    return m_datagram->BlockedTime() + m_stream->BlockedTime();
}
