#include "transport/SocketEndpoint.h"

#include "transport/AddressLookup.h"
#include "transport/TlsConnection.h"
#include "transport/TlsContext.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <linux/errqueue.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>

namespace {
// Beyond this a slow receiver makes SendData wait instead of the buffer
// growing without bound.
constexpr std::size_t PendingLimit = 4 * 1024 * 1024;
constexpr int DrainWaitMs = 2000;
// A datagram send finds the buffer full only for moments.
constexpr int UdpWriteWaitMs = 1000;
// The kernel's limit on messages per sendmmsg and buffers per sendmsg.
constexpr std::size_t GatherLimit = 1024;
constexpr std::size_t ReadChunk = 64 * 1024;
// Reads per notification, so a talkative peer cannot starve the event loop.
constexpr int ReadsPerWakeUp = 16;
// Plaintext encrypted per write: a usual batch in one piece, yet a big stream
// still waits for the kernel between pieces as a plain one does.
constexpr std::size_t TlsChunk = 256 * 1024;
// How long a TLS 1.3 server that asked for a client certificate gets to say
// whether it accepted it, for servers that send nothing after the handshake.
constexpr int TlsVerdictWaitMs = 1000;
// A datagram that has drawn no refusal for this long got through, so a later
// refusal is a new failure. Longer than the second by which hosts space
// their port-unreachable answers.
constexpr std::chrono::milliseconds RefusalQuiet{2000};

using SteadyClock = std::chrono::steady_clock;

QString SystemErrorText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

int RemainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// False when the deadline passed before the socket could take more.
bool WaitWritable(int fd, SteadyClock::time_point deadline)
{
    for (;;) {
        const int waitMs = RemainingMs(deadline);
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, waitMs);
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool IsWouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool ValidPort(std::int32_t port, std::int32_t lowest)
{
    return port >= lowest && port <= 65535;
}
} // namespace

// Shared with a worker-thread lookup, which may outlive the endpoint.
struct LookupToken {
    std::mutex mutex;
    SocketEndpoint *owner = nullptr;
};

struct SocketEndpoint::Impl {
    Impl(SocketEndpoint &endpoint, std::int32_t protocolValue);
    ~Impl();

    bool IsUdp() const { return m_protocol == UdpProtocol; }
    std::size_t Send(std::span<const std::string_view> packets)
    {
        return IsUdp() ? UdpSend(packets) : TcpSend(packets);
    }
    std::size_t Pending() const { return m_pending.size() - m_pendingOffset; }
    void DropPending()
    {
        m_dropped += Pending();
        m_pending.clear();
        m_pendingOffset = 0;
    }
    std::uint64_t Acknowledged() const;

    void PostError(int number, const QString &text);
    void PostClose();
    void PostConnect();
    void ForgetAddressing();
    void CancelLookup();
    void CloseSocket();
    bool OpenSocket(int family, int type);

    // UDP
    bool PrepareUdpTarget();
    void ReportUdpFailure(int number);
    std::size_t UdpSend(std::span<const std::string_view> packets);
    std::size_t ReadRefusals();
    void OnRefusal(int number);
    void OnUdpReadable();

    // TCP
    bool StartAttempts(std::size_t from, bool synchronous);
    void OnLookedUp(const std::shared_ptr<LookupToken> &token, std::uint64_t forGeneration,
                    const AddressLookup &result);
    void OnConnectReady();
    void OnConnected();
    void Fail(int number);
    void OnPeerClosed(bool reset);
    void OnSessionFailure(int number);
    bool FlushSome();
    // Until the pending bytes are under their limit or the deadline passed;
    // after a vain wait only again when retry says so.
    bool WaitForRoom(SteadyClock::time_point deadline, bool retry = false);
    void Append(std::string_view bytes);
    void WatchWrites();
    std::size_t TcpSend(std::span<const std::string_view> packets);
    // waitMs < 0: the window's way (DrainWaitMs, no wait again after a vain one).
    bool TcpStream(std::string_view bytes, int waitMs);
    bool Flush(int timeoutMs);

    // TLS
    void StartTls();
    void ContinueHandshake();
    void OnTlsReady();
    void FailTls(const std::string &reason);
    bool TlsWrite(std::string_view plain);
    std::size_t TlsSend(std::span<const std::string_view> packets);
    bool TlsStream(std::string_view bytes, SteadyClock::time_point deadline, bool retry);
    void ReadTls();
    void EndTls(SteadyClock::time_point deadline);

    void OnReadable();
    void OnWritable();
    // WaitWritable, its time added to m_blocked.
    bool BlockUntilWritable(SteadyClock::time_point deadline);

    SocketEndpoint &m_q;
    std::int32_t m_protocol;
    std::string m_remoteHost;
    std::int32_t m_remotePort = 0;
    std::int32_t m_localPort = 0;
    std::int16_t m_state = StateClosed;
    int m_fd = -1;
    int m_fdFamily = AF_UNSPEC;
    // Bumped by Close: events queued for an older socket are dropped.
    std::uint64_t m_generation = 0;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};

    // UDP: the target resolved once per addressing.
    bool m_udpResolved = false;
    bool m_udpLookupReported = false;
    AddressLookup m_udpTarget;
    int m_lastSendError = 0;
    // Refusals the network sent back for datagrams sent, and the one last
    // reported; the first hand-over since the latest refusal was read.
    std::uint64_t m_refused = 0;
    int m_refusalReported = 0;
    std::optional<SteadyClock::time_point> m_unansweredSince;
    std::function<SteadyClock::time_point()> m_refusalClock = SteadyClock::now;

    // TCP
    std::vector<SocketAddress> m_attempts;
    std::size_t m_attemptIndex = 0;
    int m_lastConnectError = 0;
    std::shared_ptr<LookupToken> m_lookup;
    // Bytes the kernel has not taken yet; the front part up to the offset
    // is already written.
    std::string m_pending;
    std::size_t m_pendingOffset = 0;
    bool m_drainStalled = false;
    // Of the session: bytes the kernel took, and pending bytes a failure dropped.
    std::uint64_t m_kernelBytes = 0;
    std::uint64_t m_dropped = 0;
    // TLS: plain bytes encrypted and the record bytes they became.
    std::uint64_t m_tlsPlain = 0;
    std::uint64_t m_tlsRecords = 0;

    // TLS: encrypted bytes go to m_pending, so it is declared after it.
    std::shared_ptr<const TlsClientContext> m_tlsContext;
    std::unique_ptr<TlsConnection> m_tls;
    bool m_awaitingVerdict = false;
    std::string m_joined;
    std::string m_tlsVersion;
    std::string m_tlsCipher;
    // Time sends spent waiting for room in a full socket.
    SteadyClock::duration m_blocked{};
};

SocketEndpoint::Impl::Impl(SocketEndpoint &endpoint, std::int32_t protocolValue)
    : m_q(endpoint), m_protocol(protocolValue)
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    QObject::connect(&m_readNotifier, &QSocketNotifier::activated, &m_q, [this] { OnReadable(); });
    QObject::connect(&m_writeNotifier, &QSocketNotifier::activated, &m_q, [this] { OnWritable(); });
}

SocketEndpoint::Impl::~Impl()
{
    CancelLookup();
    CloseSocket();
}

void SocketEndpoint::Impl::PostError(int number, const QString &text)
{
    const std::uint64_t forGeneration = m_generation;
    QMetaObject::invokeMethod(
        &m_q,
        [this, forGeneration, number, text] {
            if (m_generation == forGeneration)
                emit m_q.ErrorEvent(number, text);
        },
        Qt::QueuedConnection);
}

void SocketEndpoint::Impl::PostClose()
{
    const std::uint64_t forGeneration = m_generation;
    QMetaObject::invokeMethod(
        &m_q,
        [this, forGeneration] {
            if (m_generation == forGeneration)
                emit m_q.CloseEvent();
        },
        Qt::QueuedConnection);
}

void SocketEndpoint::Impl::PostConnect()
{
    const std::uint64_t forGeneration = m_generation;
    QMetaObject::invokeMethod(
        &m_q,
        [this, forGeneration] {
            if (m_generation == forGeneration)
                emit m_q.ConnectEvent();
        },
        Qt::QueuedConnection);
}

void SocketEndpoint::Impl::ForgetAddressing()
{
    m_udpResolved = false;
    m_udpLookupReported = false;
    m_udpTarget = {};
    m_lastSendError = 0;
    m_refused = 0;
    m_refusalReported = 0;
    m_unansweredSince.reset();
}

void SocketEndpoint::Impl::CancelLookup()
{
    if (!m_lookup)
        return;
    std::lock_guard<std::mutex> lock(m_lookup->mutex);
    m_lookup->owner = nullptr;
    m_lookup.reset();
}

void SocketEndpoint::Impl::CloseSocket()
{
    // The event dispatcher must stop watching before the number is reused.
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fdFamily = AF_UNSPEC;
}

bool SocketEndpoint::Impl::OpenSocket(int family, int type)
{
    CloseSocket();
    m_fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    if (m_localPort > 0) {
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const SocketAddress local = AnyAddress(family, static_cast<std::uint16_t>(m_localPort));
        if (::bind(m_fd, local.Get(), local.length) != 0) {
            const int error = errno;
            CloseSocket();
            errno = error;
            return false;
        }
    }
    m_fdFamily = family;
    m_readNotifier.setSocket(m_fd);
    m_writeNotifier.setSocket(m_fd);
    return true;
}

// ---- UDP ------------------------------------------------------------------

bool SocketEndpoint::Impl::PrepareUdpTarget()
{
    if (!m_udpResolved) {
        m_udpResolved = true;
        m_udpLookupReported = false;
        if (ValidPort(m_remotePort, 0)) {
            m_udpTarget = LookUpAddresses(m_remoteHost, static_cast<std::uint16_t>(m_remotePort), SOCK_DGRAM, false);
        } else {
            m_udpTarget = {};
            m_udpTarget.errorNumber = EINVAL;
            m_udpTarget.errorText = std::strerror(EINVAL);
        }
    }
    if (!m_udpTarget.Ok()) {
        // One report per addressing, however many packets follow.
        if (!m_udpLookupReported) {
            m_udpLookupReported = true;
            PostError(m_udpTarget.errorNumber, QString::fromLocal8Bit(m_udpTarget.errorText.c_str()));
        }
        return false;
    }
    const int family = m_udpTarget.addresses.front().Family();
    if (m_fd >= 0 && m_fdFamily == family)
        return true;
    if (!OpenSocket(family, SOCK_DGRAM)) {
        ReportUdpFailure(errno);
        return false;
    }
    // Without this an unconnected socket never hears that a port refused.
    const int on = 1;
    if (family == AF_INET6)
        ::setsockopt(m_fd, SOL_IPV6, IPV6_RECVERR, &on, sizeof on);
    else
        ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    m_state = StateOpen;
    m_readNotifier.setEnabled(true);
    return true;
}

void SocketEndpoint::Impl::ReportUdpFailure(int number)
{
    if (number == m_lastSendError)
        return;
    m_lastSendError = number;
    PostError(number, SystemErrorText(number));
}

std::size_t SocketEndpoint::Impl::UdpSend(std::span<const std::string_view> packets)
{
    if (packets.empty() || !PrepareUdpTarget())
        return 0;
    const SocketAddress &target = m_udpTarget.addresses.front();
    std::vector<mmsghdr> headers(std::min(packets.size(), GatherLimit));
    std::vector<iovec> buffers(headers.size());
    std::size_t sent = 0;
    while (sent < packets.size()) {
        const std::size_t count = std::min(packets.size() - sent, GatherLimit);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view packet = packets[sent + i];
            buffers[i].iov_base = const_cast<char *>(packet.data());
            buffers[i].iov_len = packet.size();
            headers[i] = {};
            headers[i].msg_hdr.msg_name = const_cast<sockaddr *>(target.Get());
            headers[i].msg_hdr.msg_namelen = target.length;
            headers[i].msg_hdr.msg_iov = &buffers[i];
            headers[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = ::sendmmsg(m_fd, headers.data(), static_cast<unsigned>(count), MSG_NOSIGNAL);
        if (done > 0) {
            sent += static_cast<std::size_t>(done);
            m_lastSendError = 0;
            if (!m_unansweredSince)
                m_unansweredSince = m_refusalClock();
            // A refusal stops a batch short; reading it keeps the kernel's
            // small queue of them from overflowing.
            if (static_cast<std::size_t>(done) < count)
                ReadRefusals();
            continue;
        }
        const int error = done < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        // An earlier datagram's refusal comes back as this send's failure,
        // and this datagram was not sent: read the refusal and send again.
        if (ReadRefusals() > 0)
            continue;
        if (IsWouldBlock(error) && BlockUntilWritable(SteadyClock::now() + std::chrono::milliseconds(UdpWriteWaitMs)))
            continue;
        ReportUdpFailure(error);
        break;
    }
    return sent;
}

// Reads the refusals queued so far: each names one datagram sent earlier.
std::size_t SocketEndpoint::Impl::ReadRefusals()
{
    std::size_t found = 0;
    while (m_fd >= 0) {
        char payload[1]; // the refused datagram itself is not needed
        alignas(cmsghdr) char control[512];
        iovec buffer{payload, sizeof payload};
        msghdr message{};
        message.msg_iov = &buffer;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (cmsghdr *part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
            const bool report = (part->cmsg_level == SOL_IP && part->cmsg_type == IP_RECVERR) ||
                                (part->cmsg_level == SOL_IPV6 && part->cmsg_type == IPV6_RECVERR);
            if (!report)
                continue;
            sock_extended_err error{};
            std::memcpy(&error, CMSG_DATA(part), sizeof error);
            // Local reports repeat what a send already returned.
            if (error.ee_origin != SO_EE_ORIGIN_ICMP && error.ee_origin != SO_EE_ORIGIN_ICMP6)
                continue;
            ++found;
            OnRefusal(static_cast<int>(error.ee_errno));
        }
    }
    return found;
}

// One report per failure, not per datagram.
void SocketEndpoint::Impl::OnRefusal(int number)
{
    ++m_refused;
    const bool gotThrough = m_unansweredSince && m_refusalClock() - *m_unansweredSince >= RefusalQuiet;
    m_unansweredSince.reset();
    if (number == m_refusalReported && !gotThrough)
        return;
    m_refusalReported = number;
    PostError(number, SystemErrorText(number));
}

void SocketEndpoint::Impl::OnUdpReadable()
{
    ReadRefusals();
    char discard[ReadChunk];
    for (int i = 0; i < ReadsPerWakeUp; ++i) {
        const ssize_t got = ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT);
        if (got < 0 && errno != EINTR)
            return;
    }
}

// ---- TCP ------------------------------------------------------------------

// Tries the resolved addresses from the given one on. synchronous: called by
// Connect, which reports a failure to create or bind the socket by returning
// false; later such failures arrive as ErrorEvent.
bool SocketEndpoint::Impl::StartAttempts(std::size_t from, bool synchronous)
{
    m_kernelBytes = m_dropped = m_tlsPlain = m_tlsRecords = 0;
    for (m_attemptIndex = from; m_attemptIndex < m_attempts.size(); ++m_attemptIndex) {
        const SocketAddress &address = m_attempts[m_attemptIndex];
        if (!OpenSocket(address.Family(), SOCK_STREAM)) {
            const int error = errno;
            if (synchronous) {
                m_state = StateClosed;
                return false;
            }
            Fail(error);
            return true;
        }
        if (::connect(m_fd, address.Get(), address.length) == 0) {
            OnConnected();
            return true;
        }
        if (errno == EINPROGRESS) {
            m_state = StateConnecting;
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

void SocketEndpoint::Impl::OnLookedUp(const std::shared_ptr<LookupToken> &token, std::uint64_t forGeneration,
                                      const AddressLookup &result)
{
    if (token != m_lookup || forGeneration != m_generation || m_state != StateResolving)
        return;
    m_lookup.reset();
    if (!result.Ok()) {
        m_state = StateError;
        PostError(result.errorNumber, QString::fromLocal8Bit(result.errorText.c_str()));
        return;
    }
    m_attempts = result.addresses;
    StartAttempts(0, false);
}

void SocketEndpoint::Impl::OnConnectReady()
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

void SocketEndpoint::Impl::OnConnected()
{
    if (m_tlsContext) {
        StartTls();
        return;
    }
    m_state = StateConnected;
    m_writeNotifier.setEnabled(false);
    m_readNotifier.setEnabled(true);
    PostConnect();
}

void SocketEndpoint::Impl::Fail(int number)
{
    m_state = StateError;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    DropPending();
    PostError(number, SystemErrorText(number));
}

void SocketEndpoint::Impl::OnPeerClosed(bool reset)
{
    m_readNotifier.setEnabled(false);
    if (reset) {
        m_writeNotifier.setEnabled(false);
        DropPending();
    }
    m_state = StatePeerClosed;
    PostClose();
}

void SocketEndpoint::Impl::OnSessionFailure(int number)
{
    if (m_state == StatePeerClosed) {
        // The session is over and already reported as closed.
        m_writeNotifier.setEnabled(false);
        DropPending();
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

// Writes what the kernel takes now; false (with errno) on a broken session.
bool SocketEndpoint::Impl::FlushSome()
{
    while (Pending() > 0) {
        const ssize_t written =
            ::send(m_fd, m_pending.data() + m_pendingOffset, Pending(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (IsWouldBlock(errno))
                break;
            return false;
        }
        m_pendingOffset += static_cast<std::size_t>(written);
        m_kernelBytes += static_cast<std::uint64_t>(written);
    }
    if (Pending() == 0) {
        m_pending.clear();
        m_pendingOffset = 0;
    } else if (m_pendingOffset > m_pending.size() / 2) {
        m_pending.erase(0, m_pendingOffset);
        m_pendingOffset = 0;
    }
    return true;
}

bool SocketEndpoint::Impl::WaitForRoom(SteadyClock::time_point deadline, bool retry)
{
    if (Pending() > PendingLimit && !FlushSome()) {
        OnSessionFailure(errno);
        return false;
    }
    if (Pending() <= PendingLimit) {
        m_drainStalled = false;
        return true;
    }
    // After one wait in vain, a burst must not wait again for every packet.
    if (m_drainStalled && !retry)
        return false;
    while (Pending() > PendingLimit) {
        if (!BlockUntilWritable(deadline)) {
            m_drainStalled = true;
            return false;
        }
        if (!FlushSome()) {
            OnSessionFailure(errno);
            return false;
        }
    }
    return true;
}

void SocketEndpoint::Impl::Append(std::string_view bytes)
{
    m_pending.append(bytes.data(), bytes.size());
}

void SocketEndpoint::Impl::WatchWrites()
{
    m_writeNotifier.setEnabled(Pending() > 0);
}

std::size_t SocketEndpoint::Impl::TcpSend(std::span<const std::string_view> packets)
{
    if (m_state != StateConnected)
        return 0;
    if (m_tls)
        return TlsSend(packets);
    std::vector<iovec> buffers(std::min(packets.size(), GatherLimit));
    std::size_t handed = 0;
    while (handed < packets.size() && m_state == StateConnected) {
        if (Pending() > 0) {
            // Behind bytes still waiting, so the stream keeps its order.
            if (!WaitForRoom(SteadyClock::now() + std::chrono::milliseconds(DrainWaitMs)))
                break;
            Append(packets[handed++]);
            continue;
        }
        const std::size_t count = std::min(packets.size() - handed, GatherLimit);
        for (std::size_t i = 0; i < count; ++i) {
            buffers[i].iov_base = const_cast<char *>(packets[handed + i].data());
            buffers[i].iov_len = packets[handed + i].size();
        }
        msghdr message{};
        message.msg_iov = buffers.data();
        message.msg_iovlen = count;
        // sendmsg, not writev, which takes no flags: a closed peer must not
        // raise SIGPIPE.
        ssize_t written = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (!IsWouldBlock(errno)) {
                OnSessionFailure(errno);
                break;
            }
            written = 0;
        }
        m_kernelBytes += static_cast<std::uint64_t>(written);
        auto left = static_cast<std::size_t>(written);
        for (std::size_t i = 0; i < count; ++i) {
            const std::string_view packet = packets[handed];
            ++handed;
            if (left >= packet.size()) {
                left -= packet.size();
                continue;
            }
            Append(packet.substr(left));
            break;
        }
    }
    if (m_state == StateConnected && Pending() > 0) {
        if (!FlushSome())
            OnSessionFailure(errno);
    }
    WatchWrites();
    return handed;
}

bool SocketEndpoint::Impl::TcpStream(std::string_view bytes, int waitMs)
{
    if (IsUdp() || m_state != StateConnected)
        return false;
    const bool retry = waitMs >= 0;
    const SteadyClock::time_point deadline =
        SteadyClock::now() + std::chrono::milliseconds(retry ? waitMs : DrainWaitMs);
    if (m_tls)
        return TlsStream(bytes, deadline, retry);
    if (Pending() > 0) {
        if (!FlushSome()) {
            OnSessionFailure(errno);
            return false;
        }
        // Behind bytes still waiting, so the stream keeps its order; once a
        // wait was in vain, nothing more joins until they drain.
        if (Pending() > 0) {
            if ((m_drainStalled && !retry) || !WaitForRoom(deadline, retry))
                return false;
            Append(bytes);
            WatchWrites();
            return true;
        }
    }
    m_drainStalled = false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            m_kernelBytes += static_cast<std::uint64_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && !IsWouldBlock(errno)) {
            OnSessionFailure(errno);
            return false;
        }
        // Waiting for room costs less than copying the rest aside.
        if (!BlockUntilWritable(deadline))
            break;
    }
    if (done == bytes.size())
        return true;
    m_drainStalled = true;
    if (done == 0)
        return false;
    // Part of the piece is in the stream already: the rest must follow it.
    Append(bytes.substr(done));
    WatchWrites();
    return true;
}

bool SocketEndpoint::Impl::Flush(int timeoutMs)
{
    if (m_fd < 0 || Pending() == 0)
        return Pending() == 0;
    const SteadyClock::time_point deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (!FlushSome()) {
            // The bytes are dropped with the session: not delivered.
            OnSessionFailure(errno);
            WatchWrites();
            return false;
        }
        if (Pending() == 0 || !BlockUntilWritable(deadline))
            break;
    }
    WatchWrites();
    return Pending() == 0;
}

std::uint64_t SocketEndpoint::Impl::Acknowledged() const
{
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    if (!m_tls && m_tlsPlain == 0)
        return m_kernelBytes - std::min<std::uint64_t>(m_kernelBytes, static_cast<std::uint64_t>(queued));
    if (m_tlsRecords == 0)
        return 0;
    // Records still unacknowledged, in the plain bytes they carry.
    const auto records = static_cast<double>(static_cast<std::uint64_t>(queued) + Pending() + m_dropped);
    const double plain = records * static_cast<double>(m_tlsPlain) / static_cast<double>(m_tlsRecords);
    const auto unacknowledged = static_cast<std::uint64_t>(std::ceil(plain));
    return m_tlsPlain - std::min(m_tlsPlain, unacknowledged);
}

// ---- TLS ------------------------------------------------------------------

void SocketEndpoint::Impl::StartTls()
{
    m_tls = std::make_unique<TlsConnection>(*m_tlsContext, m_fd, m_pending, m_remoteHost);
    m_writeNotifier.setEnabled(false);
    m_readNotifier.setEnabled(true);
    ContinueHandshake();
}

void SocketEndpoint::Impl::ContinueHandshake()
{
    const TlsConnection::Result result = m_tls->Handshake();
    if (result == TlsConnection::Result::Failed) {
        FailTls(m_tls->FailureText());
        return;
    }
    if (!FlushSome()) {
        FailTls(std::string("the connection failed during the handshake: ") + std::strerror(errno));
        return;
    }
    WatchWrites();
    if (result != TlsConnection::Result::Done)
        return;
    if (!m_tls->AwaitingVerdict()) {
        OnTlsReady();
        return;
    }
    m_awaitingVerdict = true;
    const std::uint64_t forGeneration = m_generation;
    QTimer::singleShot(TlsVerdictWaitMs, &m_q, [this, forGeneration] {
        if (m_generation == forGeneration && m_state == StateConnecting && m_awaitingVerdict)
            OnTlsReady();
    });
    // The verdict may be here already.
    ReadTls();
}

void SocketEndpoint::Impl::OnTlsReady()
{
    m_awaitingVerdict = false;
    m_tlsVersion = m_tls->Version();
    m_tlsCipher = m_tls->Cipher();
    m_state = StateConnected;
    m_readNotifier.setEnabled(true);
    WatchWrites();
    PostConnect();
}

void SocketEndpoint::Impl::FailTls(const std::string &reason)
{
    const bool handshaking = m_state == StateConnecting;
    m_awaitingVerdict = false;
    // The alert, if any, tells the server why.
    FlushSome();
    m_state = StateError;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    DropPending();
    PostError(ErrorTls,
              QString::fromStdString((handshaking ? "TLS handshake failed: " : "TLS session failed: ") + reason));
}

bool SocketEndpoint::Impl::TlsWrite(std::string_view plain)
{
    const std::size_t before = m_pending.size();
    if (m_tls->Write(plain)) {
        m_tlsPlain += plain.size();
        m_tlsRecords += m_pending.size() - before;
        return true;
    }
    FailTls(m_tls->FailureText());
    return false;
}

std::size_t SocketEndpoint::Impl::TlsSend(std::span<const std::string_view> packets)
{
    std::size_t handed = 0;
    while (handed < packets.size() && m_state == StateConnected) {
        if (!WaitForRoom(SteadyClock::now() + std::chrono::milliseconds(DrainWaitMs)))
            break;
        // Packets joined into one write fill whole records, and the records
        // leave in one send.
        std::string_view piece = packets[handed];
        std::size_t next = handed + 1;
        if (next < packets.size() && piece.size() < TlsChunk) {
            m_joined.assign(piece);
            for (; next < packets.size() && m_joined.size() + packets[next].size() <= TlsChunk; ++next)
                m_joined.append(packets[next]);
            piece = m_joined;
        }
        if (!TlsWrite(piece))
            break;
        handed = next;
        if (!FlushSome()) {
            OnSessionFailure(errno);
            break;
        }
    }
    if (m_fd >= 0)
        WatchWrites();
    return handed;
}

bool SocketEndpoint::Impl::TlsStream(std::string_view bytes, SteadyClock::time_point deadline, bool retry)
{
    if (Pending() > 0) {
        if (!FlushSome()) {
            OnSessionFailure(errno);
            return false;
        }
        if (Pending() > 0) {
            if ((m_drainStalled && !retry) || !WaitForRoom(deadline, retry) || !TlsWrite(bytes))
                return false;
            WatchWrites();
            return true;
        }
    }
    m_drainStalled = false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (Pending() > 0) {
            // The kernel is full: wait for room before encrypting more, as a
            // plain stream waits before writing more.
            if (!BlockUntilWritable(deadline)) {
                m_drainStalled = true;
                break;
            }
        } else {
            const std::size_t piece = std::min(bytes.size() - done, TlsChunk);
            if (!TlsWrite(bytes.substr(done, piece)))
                return false;
            done += piece;
        }
        if (!FlushSome()) {
            OnSessionFailure(errno);
            return false;
        }
    }
    // Part of the piece is in the stream already: the rest must follow it.
    if (done < bytes.size() && !TlsWrite(bytes.substr(done)))
        return false;
    WatchWrites();
    return true;
}

void SocketEndpoint::Impl::ReadTls()
{
    if (m_state == StateConnecting && !m_awaitingVerdict) {
        ContinueHandshake();
        return;
    }
    char discard[ReadChunk];
    TlsConnection::Result result = TlsConnection::Result::Done;
    for (int i = 0; i < ReadsPerWakeUp && result == TlsConnection::Result::Done; ++i) {
        std::size_t got = 0;
        result = m_tls->Read(discard, sizeof discard, got);
    }
    if (result == TlsConnection::Result::Failed ||
        (m_state == StateConnecting && result == TlsConnection::Result::Closed)) {
        FailTls(m_tls->FailureText());
        return;
    }
    if (result == TlsConnection::Result::Closed) {
        if (m_tls->SocketError() != 0)
            OnSessionFailure(m_tls->SocketError());
        else
            OnPeerClosed(false);
        return;
    }
    if (m_state == StateConnecting && !m_tls->AwaitingVerdict())
        OnTlsReady();
    // Reading may have queued an answer, such as a key update of our own.
    WatchWrites();
}

// A socket closed with unread bytes (such as a TLS 1.3 server's tickets, sent
// late) is reset, and a reset drops what the kernel has not sent yet. So after
// close_notify the server's last bytes are read until it closes too.
void SocketEndpoint::Impl::EndTls(SteadyClock::time_point deadline)
{
    bool awaitEnd = false;
    if (m_state == StateConnected) {
        m_tls->Shutdown();
        awaitEnd = FlushSome() && Pending() == 0 && ::shutdown(m_fd, SHUT_WR) == 0;
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
    m_tls.reset();
}

void SocketEndpoint::Impl::OnReadable()
{
    if (IsUdp()) {
        OnUdpReadable();
        return;
    }
    if (m_tls) {
        ReadTls();
        return;
    }
    char discard[ReadChunk];
    for (int i = 0; i < ReadsPerWakeUp; ++i) {
        const ssize_t got = ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && IsWouldBlock(errno))
            return;
        if (got == 0)
            OnPeerClosed(false);
        else
            OnSessionFailure(errno);
        return;
    }
}

void SocketEndpoint::Impl::OnWritable()
{
    if (m_state == StateConnecting && m_tls) {
        if (!FlushSome())
            FailTls(std::string("the connection failed during the handshake: ") + std::strerror(errno));
        else
            WatchWrites();
        return;
    }
    if (m_state == StateConnecting) {
        OnConnectReady();
        return;
    }
    if (!FlushSome())
        OnSessionFailure(errno);
    if (m_fd >= 0)
        WatchWrites();
}

// ---- SocketEndpoint -------------------------------------------------------

SocketEndpoint::SocketEndpoint(std::int32_t protocol, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(*this, protocol))
{}

SocketEndpoint::~SocketEndpoint() = default;

std::int32_t SocketEndpoint::Protocol() const
{
    return d->m_protocol;
}

void SocketEndpoint::SetProtocol(std::int32_t protocol)
{
    if (protocol == d->m_protocol)
        return;
    Close();
    d->m_protocol = protocol;
}

const std::string &SocketEndpoint::RemoteHost() const
{
    return d->m_remoteHost;
}

void SocketEndpoint::SetRemoteHost(const std::string &host)
{
    d->m_remoteHost = host;
    d->ForgetAddressing();
}

std::int32_t SocketEndpoint::RemotePort() const
{
    return d->m_remotePort;
}

void SocketEndpoint::SetRemotePort(std::int32_t port)
{
    d->m_remotePort = port;
    d->ForgetAddressing();
}

std::int32_t SocketEndpoint::LocalPort() const
{
    return d->m_localPort;
}

void SocketEndpoint::SetLocalPort(std::int32_t port)
{
    d->m_localPort = port;
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
    return d->m_state;
}

void SocketEndpoint::Close(std::chrono::milliseconds flushLimit)
{
    // A disconnect right after a burst should not drop what is still queued.
    const SteadyClock::time_point deadline = SteadyClock::now() + flushLimit;
    if (d->m_state == StateConnected && d->Pending() > 0)
        d->Flush(static_cast<int>(flushLimit.count()));
    if (d->m_tls)
        d->EndTls(deadline);
    d->m_awaitingVerdict = false;
    ++d->m_generation;
    d->CancelLookup();
    d->CloseSocket();
    d->m_state = StateClosed;
    d->m_pending.clear();
    d->m_pendingOffset = 0;
    d->m_drainStalled = false;
    d->m_attempts.clear();
    d->ForgetAddressing();
    // A chosen source port belongs to the session it was set for: the connect
    // command sets it again when wanted, and otherwise the system chooses.
    d->m_localPort = 0;
}

bool SocketEndpoint::Connect()
{
    if (d->IsUdp() || d->m_state != StateClosed)
        return false;
    if (d->m_remoteHost.empty() || !ValidPort(d->m_remotePort, 1) || !ValidPort(d->m_localPort, 0))
        return false;
    const auto port = static_cast<std::uint16_t>(d->m_remotePort);
    d->m_tlsVersion.clear();
    d->m_tlsCipher.clear();
    AddressLookup numeric = LookUpAddresses(d->m_remoteHost, port, SOCK_STREAM, true);
    if (numeric.Ok()) {
        d->m_attempts = std::move(numeric.addresses);
        return d->StartAttempts(0, true);
    }
    if (!numeric.NeedsNameLookup())
        return false;

    // A name may take the resolver seconds: look it up off this thread.
    auto token = std::make_shared<LookupToken>();
    token->owner = this;
    d->m_lookup = token;
    d->m_state = StateResolving;
    const std::uint64_t forGeneration = d->m_generation;
    const std::string host = d->m_remoteHost;
    QThreadPool::globalInstance()->start([token, host, port, forGeneration] {
        AddressLookup result = LookUpAddresses(host, port, SOCK_STREAM, false);
        std::lock_guard<std::mutex> lock(token->mutex);
        SocketEndpoint *owner = token->owner;
        if (!owner)
            return;
        QMetaObject::invokeMethod(
            owner, [owner, token, forGeneration, result] { owner->d->OnLookedUp(token, forGeneration, result); },
            Qt::QueuedConnection);
    });
    return true;
}

bool SocketEndpoint::SendData(std::string_view data)
{
    const std::string_view packets[] = {data};
    return d->Send(packets) == 1;
}

std::size_t SocketEndpoint::SendBatch(const std::vector<std::string> &packets)
{
    const std::vector<std::string_view> views(packets.begin(), packets.end());
    return d->Send(views);
}

std::uint64_t SocketEndpoint::RefusedDatagrams()
{
    if (d->IsUdp())
        d->ReadRefusals();
    return d->m_refused;
}

void SocketEndpoint::SetRefusalClock(std::function<SteadyClock::time_point()> now)
{
    d->m_refusalClock = std::move(now);
}

bool SocketEndpoint::Impl::BlockUntilWritable(SteadyClock::time_point deadline)
{
    const auto start = SteadyClock::now();
    const bool writable = WaitWritable(m_fd, deadline);
    m_blocked += SteadyClock::now() - start;
    return writable;
}

std::chrono::nanoseconds SocketEndpoint::BlockedTime() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d->m_blocked);
}

bool SocketEndpoint::SendStream(std::string_view bytes)
{
    return d->TcpStream(bytes, -1);
}

bool SocketEndpoint::SendStream(std::string_view bytes, std::chrono::milliseconds waitLimit)
{
    return d->TcpStream(bytes, static_cast<int>(std::clamp<std::int64_t>(waitLimit.count(), 0, DrainWaitMs)));
}

void SocketEndpoint::SetTls(std::shared_ptr<const TlsClientContext> context)
{
    d->m_tlsContext = std::move(context);
}

const std::shared_ptr<const TlsClientContext> &SocketEndpoint::Tls() const
{
    return d->m_tlsContext;
}

const std::string &SocketEndpoint::NegotiatedTlsVersion() const
{
    return d->m_tlsVersion;
}

const std::string &SocketEndpoint::NegotiatedCipher() const
{
    return d->m_tlsCipher;
}

std::size_t SocketEndpoint::PendingBytes() const
{
    return d->Pending();
}

std::uint64_t SocketEndpoint::AcknowledgedBytes() const
{
    return d->Acknowledged();
}

bool SocketEndpoint::FlushPending(int timeoutMs)
{
    return d->Flush(timeoutMs);
}
