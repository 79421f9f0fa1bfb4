#include "proof/ReceiveLoop.h"

#include "proof/MessageIntake.h"
#include "transport/TransportKind.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t DatagramBatch = 64;
constexpr std::size_t DatagramSize = 65536;
// Larger Unix datagrams (up to --max-frame) come fewer to a batch.
constexpr std::size_t DatagramBatchBytes = DatagramBatch * DatagramSize;
constexpr std::size_t StreamReadSize = 256 * 1024;

// A TLS record header of a handshake (22, version 3.x): no syslog frame
// starts so, neither a count nor "<".
bool LooksLikeTlsHandshake(std::string_view bytes)
{
    return bytes[0] == 0x16 && (bytes.size() < 2 || bytes[1] == 0x03);
}
// Per turn, so every ready socket gets its share.
constexpr int ReadsPerTurn = 4;
// How long a closing receiver reads what its peers still send.
constexpr std::int64_t CloseWaitUs = 500'000;
constexpr int BatchesPerTurn = 16;
constexpr int AcceptsPerTurn = 256;
constexpr int EventsPerWait = 256;
constexpr int ReceiveBufferBytes = 8 << 20;
constexpr std::uint64_t ListenerTag = ~std::uint64_t{0};

std::string AddressText(const sockaddr_storage &address, bool withPort = true)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return withPort ? "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port)) : std::string(text);
    }
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return withPort ? std::string(text) + ":" + std::to_string(ntohs(v4.sin_port)) : std::string(text);
}

// Only numbers: a bind address is never looked up.
std::string NumericBind(std::string text)
{
    if (text == "localhost")
        return "127.0.0.1";
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        return text.substr(1, text.size() - 2);
    return text;
}
} // namespace

ReceiveLoop::ReceiveLoop(const ListenSettings &settings, MessageIntake &intake, const Clock &clock,
                         SessionFactory factory)
    : m_settings(settings), m_intake(intake), m_clock(clock), m_factory(std::move(factory))
{
    if (!m_factory)
        m_factory = [](int fd) { return std::make_unique<PlainSession>(fd); };
}

ReceiveLoop::~ReceiveLoop()
{
    // A session may still speak on its socket as it ends (a TLS close).
    for (auto &connection : m_connections) {
        if (connection) {
            connection->session.reset();
            ::close(connection->fd);
        }
    }
    for (int fd : {m_listener, m_spare, m_epoll})
        if (fd >= 0)
            ::close(fd);
}

Status ReceiveLoop::OpenListener()
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = IsStream(m_settings.transport) ? SOCK_STREAM : SOCK_DGRAM;
    addrinfo *found = nullptr;
    const std::string host = NumericBind(m_settings.bind);
    const std::string service = std::to_string(m_settings.port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        return Status::Failure("--bind: '" + m_settings.bind + "' is not an IPv4 or IPv6 address");
    m_listener = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (m_listener >= 0 && IsStream(m_settings.transport))
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Bursts wait in the socket while a batch is checked; past the system's
    // cap only an administrator may go, so the plain request follows.
    if (m_listener >= 0 && !IsStream(m_settings.transport) &&
        setsockopt(m_listener, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBufferBytes, sizeof ReceiveBufferBytes) != 0)
        setsockopt(m_listener, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferBytes, sizeof ReceiveBufferBytes);
    const bool bound = m_listener >= 0 && ::bind(m_listener, found->ai_addr, found->ai_addrlen) == 0 &&
                       (!IsStream(m_settings.transport) || ::listen(m_listener, SOMAXCONN) == 0);
    const int reason = errno;
    freeaddrinfo(found);
    if (!bound)
        return Status::Failure("cannot listen on " + ProtocolName() + " " + m_settings.bind + " port " + service +
                               ": " + std::strerror(reason));
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    getsockname(m_listener, reinterpret_cast<sockaddr *>(&local), &length);
    m_address = AddressText(local);
    m_port = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(local).sin6_port
                                               : reinterpret_cast<sockaddr_in &>(local).sin_port);
    return {};
}

Status ReceiveLoop::OpenUnixListener()
{
    m_listener = ::socket(
        AF_UNIX, (IsStream(m_settings.transport) ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return Status::Failure("cannot make a Unix socket: " + std::string(std::strerror(errno)));
    if (Status bound = m_socketFile.Bind(m_listener, m_settings.socketPath); !bound)
        return bound;
    if (IsStream(m_settings.transport) && ::listen(m_listener, SOMAXCONN) != 0)
        return Status::Failure("cannot listen on " + m_settings.socketPath + ": " + std::strerror(errno));
    m_address = m_settings.socketPath;
    return {};
}

Status ReceiveLoop::Open()
{
    if (Status listening = IsUnixSocket(m_settings.transport) ? OpenUnixListener() : OpenListener(); !listening)
        return listening;
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = ListenerTag;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event);
    if (IsStream(m_settings.transport)) {
        m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        m_buffer.resize(StreamReadSize);
    } else {
        // A UDP datagram is never longer; a Unix one may be, up to --max-frame.
        const std::size_t size = IsUnixSocket(m_settings.transport) ? m_settings.maxFrame : DatagramSize;
        const std::size_t batch = std::clamp<std::size_t>(DatagramBatchBytes / size, 1, DatagramBatch);
        m_buffer.resize(batch * size);
        m_headers.resize(batch);
        m_vectors.resize(batch);
        for (std::size_t i = 0; i < batch; ++i) {
            m_vectors[i] = {m_buffer.data() + i * size, size};
            m_headers[i] = {};
            m_headers[i].msg_hdr.msg_iov = &m_vectors[i];
            m_headers[i].msg_hdr.msg_iovlen = 1;
        }
    }
    return {};
}

std::string ReceiveLoop::ProtocolName() const
{
    return std::string(TransportName(m_settings.transport));
}

std::string ReceiveLoop::Where() const
{
    return ProtocolName() + " " + m_address;
}

void ReceiveLoop::RunOnce(int timeoutMs)
{
    if (!m_handshakes.empty()) {
        // Waits no longer than the first handshake may take.
        const std::int64_t left = m_handshakes.front().deadlineUs - m_clock.EpochMicroseconds();
        timeoutMs = static_cast<int>(std::clamp<std::int64_t>((left + 999) / 1000, 0, timeoutMs));
    }
    epoll_event events[EventsPerWait];
    const int ready = epoll_wait(m_epoll, events, EventsPerWait, timeoutMs);
    for (int i = 0; i < ready; ++i) {
        const std::uint64_t tag = events[i].data.u64;
        if (tag != ListenerTag)
            ReadConnection(static_cast<std::size_t>(tag));
        else if (IsStream(m_settings.transport))
            Accept();
        else
            ReadDatagrams();
    }
    if (!m_answering.empty())
        Answer();
    if (!m_handshakes.empty())
        ExpireHandshakes();
    if (m_settings.idleTimeoutUs > 0 && m_counts.open > 0 && m_clock.EpochMicroseconds() >= m_nextIdleCheckUs)
        CloseIdle();
}

// Looked at a few times per timeout (at most each second), so a quiet
// connection goes within a tenth of the timeout after it.
void ReceiveLoop::CloseIdle()
{
    const std::int64_t now = m_clock.EpochMicroseconds();
    m_nextIdleCheckUs = now + std::clamp<std::int64_t>(m_settings.idleTimeoutUs / 10, 10'000, 1'000'000);
    for (std::size_t slot = 0; slot < m_connections.size(); ++slot) {
        const auto &connection = m_connections[slot];
        if (connection && connection->established && now - connection->lastReadUs >= m_settings.idleTimeoutUs) {
            ++m_counts.idleClosed;
            if (connection->relp) {
                connection->relp->EndByReceiver();
                SendAnswers(*connection);
            }
            Drop(slot, Ending::ByReceiver);
        }
    }
}

void ReceiveLoop::ShedLargest()
{
    while (m_buffered > m_settings.maxBuffered) {
        std::size_t largest = 0;
        for (std::size_t slot = 1; slot < m_connections.size(); ++slot)
            if (m_connections[slot] &&
                (!m_connections[largest] || m_connections[slot]->buffered > m_connections[largest]->buffered))
                largest = slot;
        if (!m_connections[largest])
            return;
        ++m_counts.bufferDrops;
        Drop(largest, Ending::Shed);
    }
}

void ReceiveLoop::ExpireHandshakes()
{
    const std::int64_t now = m_clock.EpochMicroseconds();
    while (!m_handshakes.empty() && m_handshakes.front().deadlineUs <= now) {
        const Handshake handshake = m_handshakes.front();
        m_handshakes.pop_front();
        const auto &connection = m_connections[handshake.slot];
        if (!connection || connection->serial != handshake.serial || connection->established)
            continue;
        if (connection->preface) {
            RefuseProxy(handshake.slot,
                        "no PROXY header within " + std::to_string(m_settings.handshakeTimeoutUs / 1000) + " ms");
            continue;
        }
        ++m_counts.failedHandshakes;
        ++m_counts.handshakeTimeouts;
        m_counts.lastHandshakeFailure =
            "the handshake did not finish within " + std::to_string(m_settings.handshakeTimeoutUs / 1000) + " ms";
        Drop(handshake.slot, Ending::ByReceiver);
    }
}

void ReceiveLoop::OnFrame(std::string_view frame)
{
    if (m_frameRow != NoRow)
        m_proxies.Message(m_frameRow);
    m_intake.Take(frame, m_nowUs);
}

void ReceiveLoop::ReadDatagrams()
{
    for (int batch = 0; batch < BatchesPerTurn; ++batch) {
        const int got =
            recvmmsg(m_listener, m_headers.data(), static_cast<unsigned>(m_headers.size()), MSG_DONTWAIT, nullptr);
        if (got <= 0)
            return;
        m_nowUs = m_clock.EpochMicroseconds();
        for (int i = 0; i < got; ++i) {
            const auto &header = m_headers[static_cast<std::size_t>(i)];
            if (header.msg_hdr.msg_flags & MSG_TRUNC) {
                ++m_counts.frames.oversize;
                continue;
            }
            if (header.msg_len == 0) {
                ++m_counts.emptyDatagrams;
                continue;
            }
            ++m_counts.frames.frames;
            m_intake.Take(std::string_view(static_cast<const char *>(header.msg_hdr.msg_iov->iov_base), header.msg_len),
                          m_nowUs);
        }
        if (static_cast<std::size_t>(got) < m_headers.size())
            return;
    }
}

void ReceiveLoop::Refuse(int fd)
{
    ::close(fd);
    ++m_counts.refused;
}

bool ReceiveLoop::MakeRoom()
{
    if (m_byActivity.empty())
        return false;
    ++m_counts.idleEvicted;
    Drop(m_byActivity.front(), Ending::ByReceiver);
    return true;
}

void ReceiveLoop::Accept()
{
    for (int turn = 0; turn < AcceptsPerTurn; ++turn) {
        int fd = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if ((errno == EMFILE || errno == ENFILE) && m_spare >= 0) {
                // Out of descriptors: take the waiting connection with the
                // spare one and refuse it, so it does not wake us forever.
                ::close(m_spare);
                fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0)
                    Refuse(fd);
                m_spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                continue;
            }
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        if (m_counts.open >= m_settings.maxConnections && !MakeRoom()) {
            Refuse(fd);
            continue;
        }
        auto session = m_factory(fd);
        if (!session) {
            Refuse(fd);
            continue;
        }
        std::size_t slot = m_connections.size();
        if (!m_freeSlots.empty()) {
            slot = m_freeSlots.back();
            m_freeSlots.pop_back();
        } else {
            m_connections.emplace_back();
        }
        const bool established = session->Established() && !m_settings.proxy;
        // The header is read before the session sees a byte.
        const std::uint32_t events = m_settings.proxy ? EPOLLIN : session->WantedEvents();
        m_connections[slot].reset(new Connection{
            fd, std::move(session), FrameSplitter(m_settings.framing, m_settings.maxFrame), events, established, false,
            ++m_serial, m_clock.EpochMicroseconds(), 0, false, m_byActivity.insert(m_byActivity.end(), slot)});
        if (IsRelp(m_settings.transport))
            m_connections[slot]->relp = std::make_unique<RelpSession>(m_settings.maxFrame);
        if (m_settings.proxy)
            m_connections[slot]->preface = std::make_unique<ProxyPreface>();
        if (!established)
            m_handshakes.push_back({m_clock.EpochMicroseconds() + m_settings.handshakeTimeoutUs, slot, m_serial});
        epoll_event event{};
        event.events = events;
        event.data.u64 = slot;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        ++m_counts.connections;
        ++m_counts.open;
    }
}

void ReceiveLoop::ReadConnection(std::size_t slot)
{
    if (slot >= m_connections.size() || !m_connections[slot])
        return;
    Connection &connection = *m_connections[slot];
    if (connection.preface && !ReadPreface(slot))
        return;
    m_frameRow = connection.proxyRow;
    if (connection.relp) {
        ReadRelp(slot);
        return;
    }
    for (int turn = 0; turn < ReadsPerTurn; ++turn) {
        std::size_t got = 0;
        const auto status = connection.session->Read(m_buffer.data(), m_buffer.size(), got);
        if (!connection.established && connection.session->Established()) {
            connection.established = true;
            ++m_counts.handshakes;
        }
        if (got > 0 && !connection.spoke) {
            connection.spoke = true;
            if (!IsTls(m_settings.transport) && LooksLikeTlsHandshake(std::string_view(m_buffer.data(), got))) {
                ++m_counts.tlsOnPlainPort;
                Drop(slot, Ending::ByReceiver);
                return;
            }
        }
        if (got > 0) {
            m_nowUs = m_clock.EpochMicroseconds();
            connection.lastReadUs = m_nowUs;
            m_byActivity.splice(m_byActivity.end(), m_byActivity, connection.activity);
            connection.splitter.Feed(std::string_view(m_buffer.data(), got), *this);
            m_buffered = m_buffered - connection.buffered + connection.splitter.Buffered();
            connection.buffered = connection.splitter.Buffered();
        }
        if (status == StreamSession::ReadStatus::Failed && connection.established) {
            const std::string why = connection.session->FailureText();
            if (!why.empty()) {
                ++m_counts.droppedSessions;
                m_counts.lastDropReason = why;
            }
        }
        if (status == StreamSession::ReadStatus::Closed || status == StreamSession::ReadStatus::Failed) {
            Drop(slot);
            return;
        }
        if (m_buffered > m_settings.maxBuffered) {
            ShedLargest();
            if (!m_connections[slot])
                return;
        }
        if (status == StreamSession::ReadStatus::Again || got < m_buffer.size())
            break;
    }
    WatchEvents(slot);
}

bool ReceiveLoop::ReadPreface(std::size_t slot)
{
    Connection &connection = *m_connections[slot];
    switch (connection.preface->Read(connection.fd, m_buffer.data())) {
    case ProxyPreface::State::Reading:
        return false;
    case ProxyPreface::State::Failed:
        RefuseProxy(slot, connection.preface->FailureText());
        return false;
    case ProxyPreface::State::Done:
        break;
    }
    const ProxyHeader &header = connection.preface->Header();
    ProxyAddress client = header.source;
    // A proxy's own connection (a health check) stands for itself.
    if (header.local) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        client = {};
        if (::getpeername(connection.fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0)
            client = ParseProxyAddress(AddressText(peer, false)).value_or(client);
    }
    ++m_counts.proxyHeaders;
    connection.proxyRow = m_proxies.Session(client);
    connection.preface.reset();
    connection.established = connection.session->Established();
    WatchEvents(slot);
    return true;
}

void ReceiveLoop::RefuseProxy(std::size_t slot, const std::string &why)
{
    ++m_counts.proxyRefused;
    m_counts.lastProxyFailure = why;
    Drop(slot, Ending::ByReceiver);
}

// A RELP session is read only as far as its answers may grow, and its
// answers wait for the end of the turn.
void ReceiveLoop::ReadRelp(std::size_t slot)
{
    Connection &connection = *m_connections[slot];
    RelpSession &relp = *connection.relp;
    for (int turn = 0; turn < ReadsPerTurn; ++turn) {
        const std::size_t room = std::min(m_buffer.size(), relp.ReadRoom());
        if (room == 0)
            break;
        std::size_t got = 0;
        const auto status = connection.session->Read(m_buffer.data(), room, got);
        if (got > 0) {
            m_nowUs = m_clock.EpochMicroseconds();
            connection.lastReadUs = m_nowUs;
            m_byActivity.splice(m_byActivity.end(), m_byActivity, connection.activity);
            relp.Feed(std::string_view(m_buffer.data(), got), *this);
        }
        if (status == StreamSession::ReadStatus::Closed || status == StreamSession::ReadStatus::Failed) {
            Drop(slot);
            return;
        }
        if (status == StreamSession::ReadStatus::Again || got < room)
            break;
    }
    if (!connection.owed) {
        connection.owed = true;
        m_answering.push_back(slot);
    }
    Rebuffer(connection, relp.Buffered());
    if (m_buffered > m_settings.maxBuffered)
        ShedLargest();
}

void ReceiveLoop::Rebuffer(Connection &connection, std::size_t held)
{
    m_buffered = m_buffered - connection.buffered + held;
    connection.buffered = held;
}

// What the answers are for is handed to the system first: an acknowledged
// message is in --output. When it cannot be, no answer goes.
void ReceiveLoop::Answer()
{
    const bool kept = m_intake.HandOver();
    for (const std::size_t slot : m_answering) {
        if (!m_connections[slot] || !m_connections[slot]->owed)
            continue;
        Connection &connection = *m_connections[slot];
        connection.owed = false;
        if (!kept || !SendAnswers(connection) || connection.relp->Over()) {
            Drop(slot, kept ? Ending::ByPeer : Ending::ByReceiver);
            continue;
        }
        if (connection.relp->Paused() && !connection.paused) {
            connection.paused = true;
            ++m_counts.pausedSessions;
        }
        WatchEvents(slot);
    }
    m_answering.clear();
}

// As much as the socket takes; false when it failed.
bool ReceiveLoop::SendAnswers(Connection &connection)
{
    RelpSession &relp = *connection.relp;
    for (std::string_view answers = relp.Answers(); !answers.empty(); answers = relp.Answers()) {
        const ssize_t sent = ::send(connection.fd, answers.data(), answers.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        relp.Sent(static_cast<std::size_t>(sent));
    }
    Rebuffer(connection, relp.Buffered());
    return true;
}

// A session that has bytes to send waits for the socket to take them too.
void ReceiveLoop::WatchEvents(std::size_t slot)
{
    Connection &connection = *m_connections[slot];
    const std::uint32_t wanted =
        connection.relp ? (connection.relp->ReadRoom() > 0 ? EPOLLIN : 0u) |
                              (connection.relp->Answers().empty() ? 0u : static_cast<std::uint32_t>(EPOLLOUT))
                        : connection.session->WantedEvents();
    if (wanted == connection.events)
        return;
    connection.events = wanted;
    epoll_event event{};
    event.events = wanted;
    event.data.u64 = slot;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, connection.fd, &event);
}

void ReceiveLoop::Drop(std::size_t slot, Ending ending)
{
    Connection &connection = *m_connections[slot];
    if (!connection.established && ending == Ending::ByPeer) {
        ++m_counts.failedHandshakes;
        const std::string why = connection.session->FailureText();
        m_counts.lastHandshakeFailure = why.empty() ? "the client closed the connection during the handshake" : why;
    }
    if (connection.closing)
        --m_closing;
    m_nowUs = m_clock.EpochMicroseconds();
    m_frameRow = connection.proxyRow;
    if (connection.relp)
        connection.relp->Finish();
    else if (ending == Ending::Shed)
        connection.splitter.Abandon();
    else
        connection.splitter.Finish(*this);
    m_buffered -= connection.buffered;
    AddCounts(m_counts, connection);
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.fd, nullptr);
    m_byActivity.erase(connection.activity);
    connection.session.reset();
    ::close(connection.fd);
    m_connections[slot].reset();
    m_freeSlots.push_back(slot);
    --m_counts.open;
}

// A sender takes every byte the system acknowledged as arrived, so none may
// be left unread when the socket closes: plain sessions are told the end
// (a half close) and read until their peer closes too, for a short while at
// most. Shutting the reading side as well would make the system reset the
// session on the next bytes and throw away what it had acknowledged. A TLS
// session only reads what is there. A RELP session's answers go first,
// then a serverclose hint; what its client sends after is not taken, so
// it is sent again to the next receiver.
void ReceiveLoop::Finish()
{
    for (std::size_t slot = 0; slot < m_connections.size(); ++slot)
        if (m_connections[slot])
            ReadConnection(slot);
    if (!m_answering.empty())
        Answer();
    for (std::size_t slot = 0; slot < m_connections.size(); ++slot) {
        Connection *connection = m_connections[slot].get();
        if (connection && connection->relp) {
            connection->relp->EndByReceiver();
            SendAnswers(*connection);
        }
        // One still owing its header would only fail it.
        if (connection && !connection->preface && connection->session->HalfClose()) {
            connection->closing = true;
            ++m_closing;
        }
    }
    const std::int64_t deadlineUs = m_clock.EpochMicroseconds() + CloseWaitUs;
    for (std::int64_t now = m_clock.EpochMicroseconds(); m_closing > 0 && now < deadlineUs;
         now = m_clock.EpochMicroseconds())
        RunOnce(static_cast<int>((deadlineUs - now + 999) / 1000));
    for (std::size_t slot = 0; slot < m_connections.size(); ++slot)
        if (m_connections[slot])
            Drop(slot, Ending::ByReceiver);
}

ReceiveCounts ReceiveLoop::Counts() const
{
    ReceiveCounts counts = m_counts;
    for (const auto &connection : m_connections)
        if (connection)
            AddCounts(counts, *connection);
    return counts;
}

// An ended connection's share is added once when it goes; an open one's
// each time the counts are read.
void ReceiveLoop::AddCounts(ReceiveCounts &counts, const Connection &connection)
{
    if (connection.relp) {
        counts.frames += connection.relp->Counts();
        counts.acknowledged += connection.relp->Acknowledged();
    } else {
        counts.frames += connection.splitter.Counts();
        ++counts.framings[static_cast<std::size_t>(connection.splitter.FramingInUse())];
    }
}
