#include "transport/StreamWriter.h"

#include "transport/ByteLayer.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>

namespace {
// Beyond this a slow receiver makes a write wait instead of the buffer
// growing without bound.
constexpr std::size_t PendingLimit = 4 * 1024 * 1024;
} // namespace

void StreamWriter::Start(int fd, ByteLayer *layer)
{
    m_fd = fd;
    m_layer = layer;
    m_pending.clear();
    m_pendingOffset = 0;
    m_stalled = false;
    m_error = 0;
    m_kernelBytes = m_dropped = m_plainBytes = m_wireBytes = 0;
}

void StreamWriter::Stop()
{
    DropPending();
    m_fd = -1;
    m_layer = nullptr;
    m_stalled = false;
}

void StreamWriter::DropPending()
{
    m_dropped += Pending();
    m_pending.clear();
    m_pendingOffset = 0;
}

StreamWriter::Written StreamWriter::Broken()
{
    m_error = errno;
    return Written::Broken;
}

bool StreamWriter::Encode(std::string_view plain, std::string_view &wire)
{
    if (!m_layer->Encode(plain, wire))
        return false;
    m_plainBytes += plain.size();
    m_wireBytes += wire.size();
    return true;
}

StreamWriter::Written StreamWriter::Queue(std::string_view plain)
{
    std::string_view wire;
    if (!plain.empty() && !Encode(plain, wire))
        return Written::LayerFailed;
    m_pending.append(wire);
    m_layer->Outgoing().clear();
    return Written::Yes;
}

void StreamWriter::TakeLayerOutput()
{
    if (!m_layer)
        return;
    m_pending.append(m_layer->Outgoing());
    m_layer->Outgoing().clear();
}

StreamWriter::Written StreamWriter::Write(std::string_view plain, const Rule &rule)
{
    if (Pending() > 0) {
        if (!FlushSome())
            return Written::Broken;
        // Behind bytes still waiting, so the stream keeps its order; once a
        // wait was in vain, nothing more joins a waiting stream until they
        // drain.
        if (Pending() > 0) {
            if (rule.waitForKernel && m_stalled && !rule.retry)
                return Written::No;
            const Written room = WaitForRoom(rule.deadline, rule.retry);
            return room == Written::Yes ? Queue(plain) : room;
        }
    }
    m_stalled = false;
    std::size_t taken = 0;
    std::size_t sent = 0;
    std::uint64_t made = 0;
    std::string_view wire;
    while (taken < plain.size() || !wire.empty()) {
        if (wire.empty()) {
            const std::size_t piece = std::min(plain.size() - taken, m_layer->EncodeLimit());
            if (!Encode(plain.substr(taken, piece), wire))
                return Written::LayerFailed;
            taken += piece;
            made += wire.size();
            continue;
        }
        const ssize_t written = ::send(m_fd, wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            wire.remove_prefix(static_cast<std::size_t>(written));
            sent += static_cast<std::size_t>(written);
            m_kernelBytes += static_cast<std::uint64_t>(written);
            if (wire.empty())
                m_layer->Outgoing().clear();
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && !IsWouldBlock(errno)) {
            const Written broken = Broken();
            m_layer->Outgoing().clear();
            return broken;
        }
        // Waiting for room costs less than copying the rest aside.
        if (!rule.waitForKernel || !m_waits.Until(m_fd, rule.deadline))
            break;
    }
    if (wire.empty() && taken == plain.size())
        return Written::Yes;
    if (rule.waitForKernel) {
        m_stalled = true;
        if (sent == 0 && !m_layer->EncodingCommits()) {
            // Nothing of it joined the stream.
            m_plainBytes -= taken;
            m_wireBytes -= made;
            return Written::No;
        }
    }
    // Part of the piece is in the stream already: the rest must follow it.
    m_pending.append(wire);
    m_layer->Outgoing().clear();
    return Queue(plain.substr(taken));
}

bool StreamWriter::FlushSome()
{
    while (Pending() > 0) {
        const ssize_t written =
            ::send(m_fd, m_pending.data() + m_pendingOffset, Pending(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (IsWouldBlock(errno))
                break;
            m_error = errno;
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

StreamWriter::Written StreamWriter::WaitForRoom(SteadyClock::time_point deadline, bool retry)
{
    if (Pending() > PendingLimit && !FlushSome())
        return Written::Broken;
    if (Pending() <= PendingLimit) {
        m_stalled = false;
        return Written::Yes;
    }
    // After one wait in vain, a burst must not wait again for every packet.
    if (m_stalled && !retry)
        return Written::No;
    while (Pending() > PendingLimit) {
        if (!m_waits.Until(m_fd, deadline)) {
            m_stalled = true;
            return Written::No;
        }
        if (!FlushSome())
            return Written::Broken;
    }
    return Written::Yes;
}

StreamWriter::Written StreamWriter::Drain(SteadyClock::time_point deadline)
{
    for (;;) {
        if (!FlushSome())
            return Written::Broken;
        if (Pending() == 0)
            return Written::Yes;
        if (!m_waits.Until(m_fd, deadline))
            return Written::No;
    }
}

std::size_t StreamWriter::Unacknowledged() const
{
    // A Unix socket's queue counts what its reader has not read yet, with
    // the system's overhead: no byte count, and no acknowledgement.
    int domain = 0;
    socklen_t length = sizeof domain;
    int queued = 0;
    if (m_fd < 0 || ::getsockopt(m_fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 ||
        (domain != AF_INET && domain != AF_INET6) || ::ioctl(m_fd, SIOCOUTQ, &queued) != 0 || queued < 0)
        return 0;
    return static_cast<std::size_t>(queued);
}

bool StreamWriter::AwaitAcknowledged(SteadyClock::time_point deadline) const
{
    // Nothing wakes a thread when acknowledgements arrive: look often.
    while (Unacknowledged() > 0) {
        if (SteadyClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::uint64_t StreamWriter::Acknowledged() const
{
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &queued) != 0 || queued < 0)
        queued = 0;
    if (m_wireBytes == 0)
        return 0;
    // Wire bytes still unacknowledged, in the plain bytes they carry.
    const std::uint64_t unacknowledged = static_cast<std::uint64_t>(queued) + Pending() + m_dropped;
    if (m_plainBytes == m_wireBytes)
        return m_plainBytes - std::min(m_plainBytes, unacknowledged);
    const double plain =
        static_cast<double>(unacknowledged) * static_cast<double>(m_plainBytes) / static_cast<double>(m_wireBytes);
    return m_plainBytes - std::min(m_plainBytes, static_cast<std::uint64_t>(std::ceil(plain)));
}
