#include "transport/ByteLayer.h"

#include <sys/socket.h>

#include <cerrno>

namespace {
// Plaintext encrypted per write: a usual batch in one piece, yet a big stream
// still waits for the kernel between pieces as a plain one does.
constexpr std::size_t TlsChunk = 256 * 1024;
} // namespace

const std::string &ByteLayer::FailureText() const
{
    static const std::string none;
    return none;
}

bool PlainLayer::Encode(std::string_view plain, std::string_view &wire)
{
    wire = plain;
    return true;
}

ByteLayer::Result PlainLayer::Read(char *buffer, std::size_t size, std::size_t &got)
{
    got = 0;
    for (;;) {
        const ssize_t received = ::recv(m_fd, buffer, size, MSG_DONTWAIT);
        if (received > 0) {
            got = static_cast<std::size_t>(received);
            return Result::Done;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Result::WantRead;
        m_socketError = received == 0 ? 0 : errno;
        return Result::Closed;
    }
}

TlsLayer::TlsLayer(const TlsClientContext &context, int fd, const std::string &host)
    : m_session(context, fd, m_outgoing, host)
{}

ByteLayer::Result TlsLayer::Handshake()
{
    return m_session.Handshake();
}

bool TlsLayer::AwaitingVerdict() const
{
    return m_session.AwaitingVerdict();
}

bool TlsLayer::Encode(std::string_view plain, std::string_view &wire)
{
    const std::size_t before = m_outgoing.size();
    if (!m_session.Write(plain))
        return false;
    wire = std::string_view(m_outgoing).substr(before);
    return true;
}

std::size_t TlsLayer::EncodeLimit() const
{
    return TlsChunk;
}

ByteLayer::Result TlsLayer::Read(char *buffer, std::size_t size, std::size_t &got)
{
    return m_session.Read(buffer, size, got);
}

bool TlsLayer::Goodbye()
{
    m_session.Shutdown();
    return true;
}

const std::string &TlsLayer::FailureText() const
{
    return m_session.FailureText();
}

int TlsLayer::SocketError() const
{
    return m_session.SocketError();
}

std::string TlsLayer::Version() const
{
    return m_session.Version();
}

std::string TlsLayer::Cipher() const
{
    return m_session.Cipher();
}
