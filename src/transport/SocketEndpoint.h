#pragma once

#include "transport/EndpointStates.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct ProxyAddress;
class DatagramEndpoint;
class StreamEndpoint;
class TlsClientContext;

// One socket endpoint, UDP or TCP (optionally with TLS), as the window and
// the command-line sender name it: a datagram endpoint or a stream endpoint,
// chosen by the protocol. It only sends: it never listens and discards
// anything it receives. UDP datagrams that come back refused raise ErrorEvent
// once per failure.
// Events (ConnectEvent, CloseEvent, ErrorEvent) are always delivered from the
// event loop of the thread that owns the endpoint, never from inside a call.
class SocketEndpoint : public QObject {
    Q_OBJECT
public:
    enum : std::int32_t { TcpProtocol = 0, UdpProtocol = 1 };
    enum : std::int16_t {
        StateClosed = EndpointState::Closed,
        StateOpen = EndpointState::Open, // UDP socket open
        StateResolving = EndpointState::Resolving,
        StateConnecting = EndpointState::Connecting,
        StateConnected = EndpointState::Connected,
        StatePeerClosed = EndpointState::PeerClosed,
        StateError = EndpointState::Error,
    };
    // ErrorEvent's Number for a failed TLS handshake or session; the
    // description says why ("TLS handshake failed: ...").
    enum : int { ErrorTls = EndpointErrorTls };

    explicit SocketEndpoint(std::int32_t protocol, QObject *parent = nullptr);
    ~SocketEndpoint() override;

    std::int32_t Protocol() const;
    void SetProtocol(std::int32_t protocol);
    const std::string &RemoteHost() const;
    void SetRemoteHost(const std::string &host);
    std::int32_t RemotePort() const;
    void SetRemotePort(std::int32_t port);
    // Non-empty: the target is the Unix socket at path (datagram or stream
    // by the protocol) instead of the host and port.
    const std::string &SocketPath() const { return m_socketPath; }
    void SetSocketPath(const std::string &path);
    std::int32_t LocalPort() const;
    void SetLocalPort(std::int32_t port);

    // The machine's first non-loopback IPv4 address, or empty.
    std::string LocalIP() const;
    std::string LocalHostName() const;
    std::int16_t State() const;

    // Harmless on a closed endpoint; never raises CloseEvent. Clears LocalPort,
    // so a later session gets a port the system chooses unless one is set.
    // Gives pending bytes up to flushLimit (1 s); a TLS session then sends
    // close_notify and reads the server's last bytes until it closes, within
    // the same limit.
    void Close(std::chrono::milliseconds flushLimit = std::chrono::milliseconds(1000));
    // TCP only. Starts connecting and returns at once; false when the attempt
    // could not even start (bad port, local port in use, no socket).
    [[nodiscard]] bool Connect();
    // UDP: one datagram. TCP: appended to the stream (only while connected).
    // The bytes go out exactly as given. False when they were not handed over.
    [[nodiscard]] bool SendData(std::string_view data);
    // UDP: several datagrams at once (sendmmsg), byte for byte as SendData
    // would send them one by one. Returns how many were handed over,
    // counting from the first; 0 for TCP, which joins packets with SendStream.
    std::size_t SendBatch(const std::vector<std::string> &packets);
    // TCP: bytes that join the stream as one piece, written straight from
    // the given buffer, waiting while the kernel's is full (up to 2 s, as a
    // full pending buffer waits). True when all were handed over, whatever is
    // left kept pending; false when none were (not connected, the session
    // failed, or bytes stuck since an earlier vain wait). False for UDP.
    [[nodiscard]] bool SendStream(std::string_view bytes);
    // The same, waiting for room at most waitLimit, each call anew whatever
    // an earlier wait found: for a caller that waits in slices, so it can
    // look at the clock and its stop signal between them.
    [[nodiscard]] bool SendStream(std::string_view bytes, std::chrono::milliseconds waitLimit);
    // UDP: datagrams sent since the endpoint was addressed that the network
    // has sent back by now as undeliverable (nothing listens on the port,
    // host unreachable).
    std::uint64_t RefusedDatagrams();
    // UDP: the clock that tells when a datagram drew no refusal long enough
    // (2 s) to have got through; the steady clock unless a test sets one.
    void SetRefusalClock(std::function<std::chrono::steady_clock::time_point()> now);

    // TCP: sessions that Connect starts from now on run TLS over the TCP
    // session with this set-up; null: plain TCP. With TLS the state stays
    // connecting (6) through the handshake and is connected (7) only after
    // it succeeded; a failed one is one ErrorEvent (ErrorTls) and state 9.
    // Pending bytes are then encrypted bytes; Close sends close_notify.
    void SetTls(std::shared_ptr<const TlsClientContext> context);
    const std::shared_ptr<const TlsClientContext> &Tls() const;
    // TCP: sessions that Connect starts from now on open with a PROXY
    // header (version 1 or 2; 0: none) claiming source, before TLS.
    void SetProxyHeader(int version, const ProxyAddress &source);
    // Of the latest TLS session ("TLSv1.3", "TLS_AES_256_GCM_SHA384"); empty
    // until a handshake succeeded, kept after Close.
    const std::string &NegotiatedTlsVersion() const;
    const std::string &NegotiatedCipher() const;

    // TCP: bytes accepted by SendData but not yet taken by the kernel.
    std::size_t PendingBytes() const;
    // TCP: how many of the bytes handed over since the session started the
    // peer's system acknowledged. Still answers after the session failed or
    // the peer ended it, until Close. With TLS an estimate in plain bytes,
    // from the share the records added.
    std::uint64_t AcknowledgedBytes() const;
    // TCP: waits (processing nothing else) until pending bytes drained or the
    // timeout passed; true when drained.
    [[nodiscard]] bool FlushPending(int timeoutMs);
    // The same, and then until the peer acknowledged every byte.
    [[nodiscard]] bool FlushTaken(int timeoutMs);
    // TCP: pending bytes and those the system holds unacknowledged.
    std::size_t UntakenBytes() const;
    // Time the calls so far spent waiting for a full socket to take more;
    // not reset by Close.
    std::chrono::nanoseconds BlockedTime() const;

signals:
    // TCP: the session is up (after the TLS handshake when TLS is on).
    void ConnectEvent();
    void CloseEvent();
    void ErrorEvent(int Number, const QString &Description);

private:
    bool IsUdp() const { return m_protocol == UdpProtocol; }

    std::int32_t m_protocol;
    std::string m_remoteHost;
    std::int32_t m_remotePort = 0;
    std::string m_socketPath;
    std::int32_t m_localPort = 0;
    // Children, so they follow the endpoint to another thread.
    DatagramEndpoint *m_datagram;
    StreamEndpoint *m_stream;
};
