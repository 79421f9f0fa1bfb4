#include "transport/StreamEndpoint.h"

#include "transport/EndpointStates.h"
#include "transport/TlsContext.h"

#include <QThreadPool>
#include <QTimer>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

namespace {
constexpr std::chrono::milliseconds DrainWait{2000};
constexpr std::size_t ReadChunk = 64 * 1024;
// Reads per notification, so a talkative peer cannot starve the event loop.
constexpr int ReadsPerWakeUp = 16;
// How long a TLS 1.3 server that asked for a client certificate gets to say
// whether it accepted it, for servers that send nothing after the handshake.
constexpr int TlsVerdictWaitMs = 1000;

// The address a connected socket reached, as a PROXY header names it.
ProxyAddress PeerAddress(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    ProxyAddress address;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return address;
    if (peer.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(peer);
        address.v6 = true;
        std::memcpy(address.bytes.data(), &v6.sin6_addr, 16);
        address.port = ntohs(v6.sin6_port);
    } else if (peer.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(peer);
        std::memcpy(address.bytes.data(), &v4.sin_addr, 4);
        address.port = ntohs(v4.sin_port);
    }
    return address;
}
} // namespace

// Shared with a worker-thread lookup, which may outlive the endpoint.
struct LookupToken {
    std::mutex mutex;
    StreamEndpoint *owner = nullptr;
    std::uint64_t generation = 0;
    // Left by the pool's thread for the owner's.
    std::optional<AddressLookup> result;
};

StreamEndpoint::StreamEndpoint(QObject *parent) : QObject(parent)
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, [this] { OnWritable(); });
}

StreamEndpoint::~StreamEndpoint()
{
    CancelLookup();
    m_writer.Stop();
    CloseSocket();
}

void StreamEndpoint::Post(Event event)
{
    m_generation.Post(this, [this, event] {
        if (event == Event::Connect)
            emit ConnectEvent();
        else
            emit CloseEvent();
    });
}

void StreamEndpoint::PostError(int number, const QString &text)
{
    m_generation.Post(this, [this, number, text] { emit ErrorEvent(number, text); });
}

void StreamEndpoint::CancelLookup()
{
    // Keep the token alive past the unlock: this may be its last reference.
    const std::shared_ptr<LookupToken> token = std::move(m_lookup);
    if (!token)
        return;
    std::lock_guard<std::mutex> lock(token->mutex);
    token->owner = nullptr;
}

void StreamEndpoint::CloseSocket()
{
    // The event dispatcher must stop watching before the number is reused.
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool StreamEndpoint::Connect(const std::string &host, std::int32_t port, std::int32_t localPort)
{
    if (m_state != EndpointState::Closed)
        return false;
    if (host.empty() || !ValidPort(port, 1) || !ValidPort(localPort, 0))
        return false;
    m_host = host;
    m_localPort = localPort;
    m_tlsVersion.clear();
    m_tlsCipher.clear();
    const auto remotePort = static_cast<std::uint16_t>(port);
    AddressLookup numeric = LookUpAddresses(host, remotePort, SOCK_STREAM, true);
    if (numeric.Ok()) {
        m_attempts = std::move(numeric.addresses);
        return StartAttempts(0, true);
    }
    if (!numeric.NeedsNameLookup())
        return false;

    // A name may take the resolver seconds: look it up off this thread.
    auto token = std::make_shared<LookupToken>();
    token->owner = this;
    token->generation = m_generation.Current();
    m_lookup = token;
    m_state = EndpointState::Resolving;
    QThreadPool::globalInstance()->start([token, host, remotePort] {
        AddressLookup result = LookUpAddresses(host, remotePort, SOCK_STREAM, false);
        std::lock_guard<std::mutex> lock(token->mutex);
        if (!token->owner)
            return;
        token->result = std::move(result);
        // By name, the result left under the lock: a functor would be freed
        // by whichever thread lets go of it last, through a count inside Qt
        // no race detector sees.
        QMetaObject::invokeMethod(token->owner, "OnLookedUp", Qt::QueuedConnection);
    });
    return true;
}

bool StreamEndpoint::ConnectPath(const std::string &path)
{
    if (m_state != EndpointState::Closed)
        return false;
    AddressLookup address = UnixSocketAddress(path);
    if (!address.Ok())
        return false;
    m_host = path;
    m_localPort = 0;
    m_tlsVersion.clear();
    m_tlsCipher.clear();
    m_attempts = std::move(address.addresses);
    return StartAttempts(0, true);
}

// Tries the resolved addresses from the given one on. synchronous: called by
// Connect, which reports a failure to create or bind the socket by returning
// false; later such failures arrive as ErrorEvent.
bool StreamEndpoint::StartAttempts(std::size_t from, bool synchronous)
{
    m_writer.Start(-1, nullptr);
    for (m_attemptIndex = from; m_attemptIndex < m_attempts.size(); ++m_attemptIndex) {
        const SocketAddress &address = m_attempts[m_attemptIndex];
        CloseSocket();
        m_fd = OpenSocket(address.Family(), SOCK_STREAM, m_localPort);
        if (m_fd < 0) {
            const int error = errno;
            if (synchronous) {
                m_state = EndpointState::Closed;
                return false;
            }
            Fail(error);
            return true;
        }
        m_readNotifier.setSocket(m_fd);
        m_writeNotifier.setSocket(m_fd);
        if (::connect(m_fd, address.Get(), address.length) == 0) {
            OnConnected();
            return true;
        }
        if (errno == EINPROGRESS) {
            m_state = EndpointState::Connecting;
            m_writeNotifier.setEnabled(true);
            return true;
        }
        m_lastConnectError = errno;
        CloseSocket();
    }
    // Refusals are the peer's answer, so they come as events like any other.
    Fail(m_lastConnectError);
    return true;
}

void StreamEndpoint::OnLookedUp()
{
    if (!m_lookup || m_lookup->generation != m_generation.Current() || m_state != EndpointState::Resolving)
        return;
    std::optional<AddressLookup> result;
    {
        const std::lock_guard<std::mutex> lock(m_lookup->mutex);
        result = std::move(m_lookup->result);
    }
    // An earlier lookup's call: this one's is still to come.
    if (!result)
        return;
    m_lookup.reset();
    if (!result->Ok()) {
        m_state = EndpointState::Error;
        PostError(result->errorNumber, QString::fromLocal8Bit(result->errorText.c_str()));
        return;
    }
    m_attempts = std::move(result->addresses);
    StartAttempts(0, false);
}

void StreamEndpoint::OnConnectReady()
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error == 0) {
        OnConnected();
        return;
    }
    m_lastConnectError = error;
    CloseSocket();
    StartAttempts(m_attemptIndex + 1, false);
}

// Connected: the layer's handshake, if it has one, comes before the session
// is up.
void StreamEndpoint::OnConnected()
{
    if (m_tlsContext)
        m_layer = std::make_unique<TlsLayer>(*m_tlsContext, m_fd, m_host);
    else
        m_layer = std::make_unique<PlainLayer>(m_fd);
    m_writer.Start(m_fd, m_layer.get());
    // A proxy speaks first, for the client it stands for.
    if (m_proxyVersion != 0) {
        std::string header;
        (m_proxyVersion == 1 ? AppendProxyV1 : AppendProxyV2)(header, m_proxySource, PeerAddress(m_fd));
        m_writer.QueueRaw(header);
    }
    m_state = EndpointState::Connecting;
    m_writeNotifier.setEnabled(false);
    m_readNotifier.setEnabled(true);
    ContinueHandshake();
}

void StreamEndpoint::ContinueHandshake()
{
    const ByteLayer::Result result = m_layer->Handshake();
    if (result == ByteLayer::Result::Failed) {
        FailLayer(m_layer->FailureText());
        return;
    }
    m_writer.TakeLayerOutput();
    if (!m_writer.FlushSome()) {
        FailLayer(std::string("the connection failed during the handshake: ") + std::strerror(m_writer.Error()));
        return;
    }
    WatchWrites();
    if (result != ByteLayer::Result::Done)
        return;
    if (!m_layer->AwaitingVerdict()) {
        OnReady();
        return;
    }
    m_awaitingVerdict = true;
    const std::uint64_t forGeneration = m_generation.Current();
    QTimer::singleShot(TlsVerdictWaitMs, this, [this, forGeneration] {
        if (m_generation.Current() == forGeneration && m_state == EndpointState::Connecting && m_awaitingVerdict)
            OnReady();
    });
    // The verdict may be here already.
    OnReadable();
}

void StreamEndpoint::OnReady()
{
    m_awaitingVerdict = false;
    m_tlsVersion = m_layer->Version();
    m_tlsCipher = m_layer->Cipher();
    m_state = EndpointState::Connected;
    m_readNotifier.setEnabled(true);
    WatchWrites();
    Post(Event::Connect);
}

void StreamEndpoint::FailLayer(const std::string &reason)
{
    const bool handshaking = m_state == EndpointState::Connecting;
    m_awaitingVerdict = false;
    // The alert, if any, tells the server why.
    m_writer.TakeLayerOutput();
    static_cast<void>(m_writer.FlushSome());
    m_state = EndpointState::Error;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_writer.DropPending();
    PostError(EndpointErrorTls,
              QString::fromStdString((handshaking ? "TLS handshake failed: " : "TLS session failed: ") + reason));
}

void StreamEndpoint::Fail(int number)
{
    m_state = EndpointState::Error;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_writer.DropPending();
    PostError(number, SystemErrorText(number));
}

void StreamEndpoint::OnPeerClosed(bool reset)
{
    m_readNotifier.setEnabled(false);
    if (reset) {
        m_writeNotifier.setEnabled(false);
        m_writer.DropPending();
    }
    m_state = EndpointState::PeerClosed;
    Post(Event::Close);
}

void StreamEndpoint::OnSessionFailure(int number)
{
    if (m_state == EndpointState::PeerClosed) {
        // The session is over and already reported as closed.
        m_writeNotifier.setEnabled(false);
        m_writer.DropPending();
        return;
    }
    // A peer that closes with data it has not read resets the session: it
    // ended the session all the same, and is reported as such.
    if (number == ECONNRESET || number == EPIPE) {
        OnPeerClosed(true);
        return;
    }
    Fail(number);
}

bool StreamEndpoint::Send(std::string_view bytes, const StreamWriter::Rule &rule)
{
    if (m_state != EndpointState::Connected)
        return false;
    switch (m_writer.Write(bytes, rule)) {
    case StreamWriter::Written::Yes:
        WatchWrites();
        return true;
    case StreamWriter::Written::No:
        WatchWrites();
        return false;
    case StreamWriter::Written::Broken:
        OnSessionFailure(m_writer.Error());
        return false;
    case StreamWriter::Written::LayerFailed:
        FailLayer(m_layer->FailureText());
        return false;
    }
    return false;
}

bool StreamEndpoint::SendPacket(std::string_view bytes)
{
    return Send(bytes, {SteadyClock::now() + DrainWait, false, false});
}

bool StreamEndpoint::SendStream(std::string_view bytes)
{
    return Send(bytes, {SteadyClock::now() + DrainWait, false, true});
}

bool StreamEndpoint::SendStream(std::string_view bytes, std::chrono::milliseconds waitLimit)
{
    return Send(bytes,
                {SteadyClock::now() + std::clamp(waitLimit, std::chrono::milliseconds(0), DrainWait), true, true});
}

bool StreamEndpoint::Flush(int timeoutMs)
{
    if (m_fd < 0 || m_writer.Pending() == 0)
        return m_writer.Pending() == 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (m_writer.Drain(deadline) == StreamWriter::Written::Broken) {
        // The bytes are dropped with the session: not delivered.
        OnSessionFailure(m_writer.Error());
        WatchWrites();
        return false;
    }
    WatchWrites();
    return m_writer.Pending() == 0;
}

bool StreamEndpoint::FlushTaken(int timeoutMs)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    if (!Flush(timeoutMs))
        return false;
    return m_fd < 0 || m_writer.AwaitAcknowledged(deadline);
}

void StreamEndpoint::WatchWrites()
{
    m_writeNotifier.setEnabled(m_fd >= 0 && m_writer.Pending() > 0);
}

void StreamEndpoint::OnReadable()
{
    if (m_state == EndpointState::Connecting && !m_awaitingVerdict) {
        ContinueHandshake();
        return;
    }
    char discard[ReadChunk];
    ByteLayer::Result result = ByteLayer::Result::Done;
    for (int i = 0; i < ReadsPerWakeUp && result == ByteLayer::Result::Done; ++i) {
        std::size_t got = 0;
        result = m_layer->Read(discard, sizeof discard, got);
    }
    // Reading may have queued an answer, such as a key update of our own.
    m_writer.TakeLayerOutput();
    if (result == ByteLayer::Result::Failed ||
        (m_state == EndpointState::Connecting && result == ByteLayer::Result::Closed)) {
        FailLayer(m_layer->FailureText());
        return;
    }
    if (result == ByteLayer::Result::Closed) {
        if (m_layer->SocketError() != 0)
            OnSessionFailure(m_layer->SocketError());
        else
            OnPeerClosed(false);
        return;
    }
    if (m_state == EndpointState::Connecting && !m_layer->AwaitingVerdict())
        OnReady();
    WatchWrites();
}

void StreamEndpoint::OnWritable()
{
    if (m_state == EndpointState::Connecting && !m_layer) {
        OnConnectReady();
        return;
    }
    if (!m_writer.FlushSome()) {
        if (m_state == EndpointState::Connecting)
            FailLayer(std::string("the connection failed during the handshake: ") + std::strerror(m_writer.Error()));
        else
            OnSessionFailure(m_writer.Error());
    }
    WatchWrites();
}

// A socket closed with unread bytes (such as a TLS 1.3 server's tickets, sent
// late) is reset, and a reset drops what the kernel has not sent yet. So after
// the goodbye the peer's last bytes are read until it closes too.
void StreamEndpoint::EndLayer(SteadyClock::time_point deadline)
{
    bool awaitEnd = false;
    if (m_state == EndpointState::Connected && m_layer->Goodbye()) {
        m_writer.TakeLayerOutput();
        awaitEnd = m_writer.FlushSome() && m_writer.Pending() == 0 && ::shutdown(m_fd, SHUT_WR) == 0;
    }
    char discard[ReadChunk];
    for (;;) {
        const ssize_t got = m_fd >= 0 ? ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT) : 0;
        if (got > 0 || (got < 0 && errno == EINTR))
            continue;
        if (got < 0 && IsWouldBlock(errno) && awaitEnd) {
            pollfd entry{m_fd, POLLIN, 0};
            if (::poll(&entry, 1, RemainingMs(deadline)) > 0)
                continue;
        }
        break;
    }
}

void StreamEndpoint::Close(std::chrono::milliseconds flushLimit)
{
    // A disconnect right after a burst should not drop what is still queued.
    const SteadyClock::time_point deadline = SteadyClock::now() + flushLimit;
    if (m_state == EndpointState::Connected && m_writer.Pending() > 0)
        static_cast<void>(Flush(static_cast<int>(flushLimit.count())));
    if (m_layer && m_layer->HasGoodbye())
        EndLayer(deadline);
    m_awaitingVerdict = false;
    m_generation.Bump();
    CancelLookup();
    m_writer.Stop();
    m_layer.reset();
    CloseSocket();
    m_state = EndpointState::Closed;
    m_attempts.clear();
}
