#pragma once

#include "transport/AddressLookup.h"
#include "transport/ByteLayer.h"
#include "transport/ProxyHeader.h"
#include "transport/SocketSupport.h"
#include "transport/StreamWriter.h"

#include <QObject>
#include <QSocketNotifier>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TlsClientContext;
struct LookupToken;

// One stream session (TCP or a Unix stream socket), its bytes written
// through a byte layer, plain or TLS. Its kind is how it connects: TCP looks
// the host up and tries each address; a Unix stream socket is one address
// from a path, with the same layers and writer. It only sends: what the peer sends
// is read and dropped, so its close is seen.
// Events are always delivered from the event loop, never from inside a call.
class StreamEndpoint : public QObject {
    Q_OBJECT
public:
    explicit StreamEndpoint(QObject *parent = nullptr);
    ~StreamEndpoint() override;

    std::int16_t State() const { return m_state; }
    // Starts connecting and returns at once; false when the attempt could not
    // even start (bad port, local port in use, no socket).
    [[nodiscard]] bool Connect(const std::string &host, std::int32_t port, std::int32_t localPort);
    // The same to the Unix stream socket at path; false for a path no socket
    // address can hold.
    [[nodiscard]] bool ConnectPath(const std::string &path);
    // Gives pending bytes up to flushLimit; a layer with a goodbye then says
    // it and reads the peer's last bytes until it closes, within the same limit.
    void Close(std::chrono::milliseconds flushLimit);

    // One packet: appended to the stream, pending when the kernel is full
    // (waiting only once pending bytes pass their limit).
    [[nodiscard]] bool SendPacket(std::string_view bytes);
    // Bytes that join the stream as one piece, written straight from the
    // given buffer, waiting while the kernel's is full (up to 2 s). True when
    // all were handed over, whatever is left kept pending; false when none
    // were (not connected, the session failed, or bytes stuck since an
    // earlier vain wait).
    [[nodiscard]] bool SendStream(std::string_view bytes);
    // The same, waiting for room at most waitLimit, each call anew whatever
    // an earlier wait found.
    [[nodiscard]] bool SendStream(std::string_view bytes, std::chrono::milliseconds waitLimit);
    // Waits (processing nothing else) until pending bytes drained or the
    // timeout passed; true when drained.
    [[nodiscard]] bool Flush(int timeoutMs);
    // Flush, then until the peer acknowledged everything (TCP); true when
    // nothing is left before the timeout.
    [[nodiscard]] bool FlushTaken(int timeoutMs);

    void SetTls(std::shared_ptr<const TlsClientContext> context) { m_tlsContext = std::move(context); }
    const std::shared_ptr<const TlsClientContext> &Tls() const { return m_tlsContext; }
    // Sessions that Connect starts from now on open with a PROXY header of
    // this version (1 or 2; 0: none) claiming source, before any byte of the
    // layer; the destination is the address the session reached.
    void SetProxyHeader(int version, const ProxyAddress &source)
    {
        m_proxyVersion = version;
        m_proxySource = source;
    }
    const std::string &NegotiatedTlsVersion() const { return m_tlsVersion; }
    const std::string &NegotiatedCipher() const { return m_tlsCipher; }

    std::size_t PendingBytes() const { return m_writer.Pending(); }
    std::size_t UntakenBytes() const { return m_writer.Pending() + m_writer.Unacknowledged(); }
    std::uint64_t AcknowledgedBytes() const { return m_writer.Acknowledged(); }
    std::chrono::nanoseconds BlockedTime() const { return m_writer.BlockedTime(); }

signals:
    // The session is up: connected, and with TLS the handshake succeeded.
    void ConnectEvent();
    void CloseEvent();
    void ErrorEvent(int Number, const QString &Description);

private:
    enum class Event { Connect, Close };
    void Post(Event event);
    void PostError(int number, const QString &text);
    void CancelLookup();
    void CloseSocket();
    bool StartAttempts(std::size_t from, bool synchronous);
    // The lookup's result is in m_lookup's token.
    Q_INVOKABLE void OnLookedUp();
    void OnConnectReady();
    void OnConnected();
    void ContinueHandshake();
    void OnReady();
    void FailLayer(const std::string &reason);
    void Fail(int number);
    void OnPeerClosed(bool reset);
    void OnSessionFailure(int number);
    bool Send(std::string_view bytes, const StreamWriter::Rule &rule);
    void WatchWrites();
    void OnReadable();
    void OnWritable();
    void EndLayer(SteadyClock::time_point deadline);

    std::string m_host;
    std::int32_t m_localPort = 0;
    std::int16_t m_state = 0;
    int m_fd = -1;
    // Bumped by Close: events queued for an older socket are dropped.
    EventGeneration m_generation;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};

    std::vector<SocketAddress> m_attempts;
    std::size_t m_attemptIndex = 0;
    int m_lastConnectError = 0;
    std::shared_ptr<LookupToken> m_lookup;

    std::shared_ptr<const TlsClientContext> m_tlsContext;
    int m_proxyVersion = 0;
    ProxyAddress m_proxySource;
    std::unique_ptr<ByteLayer> m_layer;
    StreamWriter m_writer;
    bool m_awaitingVerdict = false;
    std::string m_tlsVersion;
    std::string m_tlsCipher;
};
