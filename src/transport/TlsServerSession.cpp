#include "transport/TlsServerSession.h"

#include "transport/TlsContext.h"

#include <sys/socket.h>

#include <cstring>

namespace {
// The most plaintext one record holds: a read is only asked for with this much
// room, so a record is never left half taken inside the session, where no
// socket event would bring it out.
constexpr std::size_t RecordSize = 16384;
// A handshake and its tickets are a few kilobytes; more waiting means the
// client sends but never reads.
constexpr std::size_t MaxUnsent = 256 * 1024;
} // namespace

TlsServerSession::TlsServerSession(const TlsServerContext &context, int fd) : m_fd(fd), m_tls(context, fd, m_outgoing)
{}

TlsServerSession::~TlsServerSession()
{
    if (!m_established || !m_failure.empty())
        return;
    m_tls.Shutdown();
    // The close notify goes if it can; the session is over either way.
    static_cast<void>(Flush());
}

bool TlsServerSession::Flush()
{
    std::size_t done = 0;
    while (done < m_outgoing.size()) {
        const ssize_t sent =
            ::send(m_fd, m_outgoing.data() + done, m_outgoing.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        m_outgoing.clear();
        m_failure = std::string("the connection failed: ") + std::strerror(errno);
        return false;
    }
    m_outgoing.erase(0, done);
    if (m_outgoing.size() <= MaxUnsent)
        return true;
    m_failure = "the client left " + std::to_string(m_outgoing.size()) + " bytes of the session unread";
    return false;
}

StreamSession::ReadStatus TlsServerSession::Fail(ReadStatus status, std::string text)
{
    if (m_failure.empty())
        m_failure = std::move(text);
    return status;
}

std::uint32_t TlsServerSession::WantedEvents() const
{
    return m_outgoing.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
}

StreamSession::ReadStatus TlsServerSession::Read(char *buffer, std::size_t capacity, std::size_t &got)
{
    got = 0;
    if (!Flush())
        return ReadStatus::Failed;
    if (!m_established) {
        const TlsConnection::Result result = m_tls.Handshake();
        if (!Flush())
            return ReadStatus::Failed;
        if (result == TlsConnection::Result::WantRead)
            return ReadStatus::Again;
        if (result != TlsConnection::Result::Done)
            return Fail(ReadStatus::Failed, m_tls.FailureText());
        m_established = true;
    }
    while (capacity - got >= RecordSize) {
        std::size_t part = 0;
        const TlsConnection::Result result = m_tls.Read(buffer + got, capacity - got, part);
        got += part;
        if (result == TlsConnection::Result::Done)
            continue;
        if (!Flush())
            return ReadStatus::Failed;
        if (result == TlsConnection::Result::WantRead)
            break;
        // A peer's close or reset ends the session as on TCP; a broken record is a failure.
        if (result == TlsConnection::Result::Closed)
            return ReadStatus::Closed;
        return Fail(ReadStatus::Failed, "after the handshake, " + m_tls.FailureText());
    }
    if (!Flush())
        return ReadStatus::Failed;
    return got > 0 ? ReadStatus::Data : ReadStatus::Again;
}
