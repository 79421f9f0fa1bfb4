#include "transport/ProxyPreface.h"

#include "transport/SocketSupport.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr std::size_t V2Fixed = 16;

// The length a version 2 header says it has, once its fixed part is there.
std::size_t SaidLength(const std::string &held)
{
    if (held.size() < V2Fixed || !held.starts_with(ProxyV2Signature))
        return 0;
    return V2Fixed +
           (static_cast<std::size_t>(static_cast<unsigned char>(held[14])) << 8 | static_cast<unsigned char>(held[15]));
}

// Takes count bytes the socket was seen to hold.
bool Take(int fd, char *scratch, std::size_t count)
{
    for (;;) {
        const ssize_t got = ::recv(fd, scratch, count, 0);
        if (got < 0 && errno == EINTR)
            continue;
        return got == static_cast<ssize_t>(count);
    }
}
} // namespace

ProxyPreface::State ProxyPreface::Fail(std::string text)
{
    m_failure = std::move(text);
    m_held = std::string();
    return State::Failed;
}

ProxyPreface::State ProxyPreface::Read(int fd, char *scratch)
{
    for (;;) {
        const ssize_t got = ::recv(fd, scratch, MostBytes - m_held.size(), MSG_PEEK);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && IsWouldBlock(errno))
            return State::Reading;
        if (got < 0)
            return Fail(std::string("the connection failed before its PROXY header ended: ") + std::strerror(errno));
        if (got == 0)
            return Fail(m_held.empty() ? "the client closed the connection without a PROXY header"
                                       : "the client closed the connection inside its PROXY header");
        const std::size_t before = m_held.size();
        m_held.append(scratch, static_cast<std::size_t>(got));
        switch (ParseProxyHeader(m_held, m_header)) {
        case ProxyParse::Header:
            m_held = std::string();
            if (!Take(fd, scratch, m_header.length - before))
                return Fail("the connection failed inside its PROXY header");
            return State::Done;
        case ProxyParse::NeedMore:
            if (SaidLength(m_held) > MostBytes || m_held.size() >= MostBytes)
                return Fail("a PROXY header longer than " + std::to_string(MostBytes) + " bytes");
            // All of it is the header's: the socket is read on.
            if (!Take(fd, scratch, static_cast<std::size_t>(got)))
                return Fail("the connection failed inside its PROXY header");
            break;
        case ProxyParse::NotProxy:
            return Fail("a connection without a PROXY header");
        case ProxyParse::Malformed:
            return Fail("a malformed PROXY header");
        }
    }
}
