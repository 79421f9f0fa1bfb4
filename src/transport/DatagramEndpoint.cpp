#include "transport/DatagramEndpoint.h"

#include "transport/EndpointStates.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {
// A datagram send finds the buffer full only for moments.
constexpr std::chrono::milliseconds WriteWait{1000};
// The kernel's limit on messages per sendmmsg.
constexpr std::size_t GatherLimit = 1024;
constexpr std::size_t ReadChunk = 64 * 1024;
// Reads per notification, so a talkative peer cannot starve the event loop.
constexpr int ReadsPerWakeUp = 16;
// A datagram that has drawn no refusal for this long got through, so a later
// refusal is a new failure. Longer than the second by which hosts space
// their port-unreachable answers.
constexpr std::chrono::milliseconds RefusalQuiet{2000};

// Points the headers at the next packets, at most GatherLimit: a connected
// socket (a Unix path) takes no address. Returns how many.
std::size_t GatherNext(std::span<const std::string_view> packets, std::size_t sent, std::vector<mmsghdr> &headers,
                       std::vector<iovec> &buffers, const SocketAddress *target)
{
    const std::size_t count = std::min(packets.size() - sent, GatherLimit);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view packet = packets[sent + i];
        buffers[i].iov_base = const_cast<char *>(packet.data());
        buffers[i].iov_len = packet.size();
        headers[i] = {};
        if (target) {
            headers[i].msg_hdr.msg_name = const_cast<sockaddr *>(target->Get());
            headers[i].msg_hdr.msg_namelen = target->length;
        }
        headers[i].msg_hdr.msg_iov = &buffers[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    return count;
}
} // namespace

DatagramEndpoint::DatagramEndpoint(QObject *parent) : QObject(parent)
{
    m_readNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
}

DatagramEndpoint::~DatagramEndpoint()
{
    CloseSocket();
}

void DatagramEndpoint::SetTarget(const std::string &host, std::int32_t port)
{
    m_host = host;
    m_port = port;
    ForgetTarget();
}

void DatagramEndpoint::SetSocketPath(const std::string &path)
{
    m_socketPath = path;
    ForgetTarget();
}

void DatagramEndpoint::Close()
{
    m_generation.Bump();
    CloseSocket();
    m_state = EndpointState::Closed;
    ForgetTarget();
}

void DatagramEndpoint::PostError(int number, const QString &text)
{
    m_generation.Post(this, [this, number, text] { emit ErrorEvent(number, text); });
}

void DatagramEndpoint::CloseSocket()
{
    // The event dispatcher must stop watching before the number is reused.
    m_readNotifier.setEnabled(false);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fdFamily = AF_UNSPEC;
}

void DatagramEndpoint::ForgetTarget()
{
    m_resolved = false;
    m_lookupReported = false;
    m_target = {};
    m_lastSendError = 0;
    m_refused = 0;
    m_refusalReported = 0;
    m_unansweredSince.reset();
    m_deliveredSinceRefusal = false;
}

bool DatagramEndpoint::PrepareTarget()
{
    if (!m_resolved) {
        m_resolved = true;
        m_lookupReported = false;
        if (!m_socketPath.empty()) {
            m_target = UnixSocketAddress(m_socketPath);
        } else if (ValidPort(m_port, 0)) {
            m_target = LookUpAddresses(m_host, static_cast<std::uint16_t>(m_port), SOCK_DGRAM, false);
        } else {
            m_target = {};
            m_target.errorNumber = EINVAL;
            m_target.errorText = std::strerror(EINVAL);
        }
    }
    if (!m_target.Ok()) {
        // One report per addressing, however many packets follow.
        if (!m_lookupReported) {
            m_lookupReported = true;
            PostError(m_target.errorNumber, QString::fromLocal8Bit(m_target.errorText.c_str()));
        }
        return false;
    }
    const int family = m_target.addresses.front().Family();
    if (family == AF_UNIX)
        return true;
    if (m_fd >= 0 && m_fdFamily == family)
        return true;
    CloseSocket();
    m_fd = OpenSocket(family, SOCK_DGRAM, m_localPort);
    if (m_fd < 0) {
        ReportFailure(errno);
        return false;
    }
    m_fdFamily = family;
    // Without this an unconnected socket never hears that a port refused.
    const int on = 1;
    if (family == AF_INET6)
        ::setsockopt(m_fd, SOL_IPV6, IPV6_RECVERR, &on, sizeof on);
    else
        ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    m_state = EndpointState::Open;
    m_readNotifier.setSocket(m_fd);
    m_readNotifier.setEnabled(true);
    return true;
}

void DatagramEndpoint::ReportFailure(int number)
{
    if (number == m_lastSendError)
        return;
    m_lastSendError = number;
    PostError(number, SystemErrorText(number));
}

std::size_t DatagramEndpoint::Send(std::span<const std::string_view> packets)
{
    if (packets.empty() || !PrepareTarget())
        return 0;
    if (!m_socketPath.empty())
        return SendToPath(packets);
    const SocketAddress &target = m_target.addresses.front();
    std::vector<mmsghdr> headers(std::min(packets.size(), GatherLimit));
    std::vector<iovec> buffers(headers.size());
    std::size_t sent = 0;
    while (sent < packets.size()) {
        const std::size_t count = GatherNext(packets, sent, headers, buffers, &target);
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
        if (IsWouldBlock(error) && m_waits.Until(m_fd, SteadyClock::now() + WriteWait))
            continue;
        ReportFailure(error);
        break;
    }
    return sent;
}

// Connected, so that a full receiver is waited for (the socket polls
// writable only when the receiver's queue has room) and a receiver that
// went away is told by the next send. False with errno.
bool DatagramEndpoint::ConnectPath()
{
    m_fd = OpenSocket(AF_UNIX, SOCK_DGRAM, 0);
    if (m_fd < 0)
        return false;
    const SocketAddress &target = m_target.addresses.front();
    while (::connect(m_fd, target.Get(), target.length) != 0) {
        if (errno == EINTR)
            continue;
        const int error = errno;
        CloseSocket();
        errno = error;
        return false;
    }
    m_fdFamily = AF_UNIX;
    m_state = EndpointState::Open;
    return true;
}

// Nothing listens at the path, or the receiver went away: each datagram
// still to go is refused, as a UDP port with no listener refuses it, and
// the socket is made again for the next ones, for a receiver that returns.
std::size_t DatagramEndpoint::SendToPath(std::span<const std::string_view> packets)
{
    const auto refusal = [](int error) { return error == ECONNREFUSED || error == ENOENT || error == ENOTCONN; };
    std::vector<mmsghdr> headers(std::min(packets.size(), GatherLimit));
    std::vector<iovec> buffers(headers.size());
    std::size_t sent = 0;
    bool reconnected = false;
    while (sent < packets.size()) {
        if (m_fd < 0) {
            if (!ConnectPath()) {
                const int error = errno;
                if (!refusal(error)) {
                    ReportFailure(error);
                    break;
                }
                NotePathRefused(packets.size() - sent, error);
                return packets.size();
            }
            reconnected = true;
        }
        const std::size_t count = GatherNext(packets, sent, headers, buffers, nullptr);
        const int done = ::sendmmsg(m_fd, headers.data(), static_cast<unsigned>(count), MSG_NOSIGNAL);
        if (done > 0) {
            sent += static_cast<std::size_t>(done);
            m_lastSendError = 0;
            m_deliveredSinceRefusal = true;
            continue;
        }
        const int error = done < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        if (refusal(error)) {
            CloseSocket();
            // A socket made just now that is refused at once: the path's
            // listener is gone for good, not replaced.
            if (reconnected) {
                NotePathRefused(packets.size() - sent, error);
                return packets.size();
            }
            continue;
        }
        if (IsWouldBlock(error) && m_waits.Until(m_fd, SteadyClock::now() + WriteWait))
            continue;
        ReportFailure(error);
        break;
    }
    return sent;
}

// One report per failure: again only after a datagram got through.
void DatagramEndpoint::NotePathRefused(std::uint64_t count, int number)
{
    m_refused += count;
    if (number == m_refusalReported && !m_deliveredSinceRefusal)
        return;
    m_refusalReported = number;
    m_deliveredSinceRefusal = false;
    PostError(number, SystemErrorText(number));
}

std::uint64_t DatagramEndpoint::Refused()
{
    if (m_socketPath.empty())
        ReadRefusals();
    return m_refused;
}

// Reads the refusals queued so far: each names one datagram sent earlier.
std::size_t DatagramEndpoint::ReadRefusals()
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
void DatagramEndpoint::OnRefusal(int number)
{
    ++m_refused;
    const bool gotThrough = m_unansweredSince && m_refusalClock() - *m_unansweredSince >= RefusalQuiet;
    m_unansweredSince.reset();
    if (number == m_refusalReported && !gotThrough)
        return;
    m_refusalReported = number;
    PostError(number, SystemErrorText(number));
}

void DatagramEndpoint::OnReadable()
{
    ReadRefusals();
    char discard[ReadChunk];
    for (int i = 0; i < ReadsPerWakeUp; ++i) {
        const ssize_t got = ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT);
        if (got < 0 && errno != EINTR)
            return;
    }
}
