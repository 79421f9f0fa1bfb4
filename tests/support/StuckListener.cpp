#include "support/StuckListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
struct LoopbackAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    sockaddr *Get() { return reinterpret_cast<sockaddr *>(&storage); }
};

LoopbackAddress Loopback(bool ipv6, quint16 port)
{
    LoopbackAddress address;
    if (ipv6) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address.storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
    } else {
        auto *v4 = reinterpret_cast<sockaddr_in *>(&address.storage);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        v4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
    }
    return address;
}

// A filler that completes its handshake lands in the accept queue; one that
// stays pending shows the queue is full.
constexpr int FillerHandshakeMs = 200;
constexpr int MaxFillers = 4;
} // namespace

StuckListener::StuckListener(bool ipv6) : m_ipv6(ipv6)
{
    const int family = ipv6 ? AF_INET6 : AF_INET;
    m_listener = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    LoopbackAddress address = Loopback(ipv6, 0);
    if (m_listener < 0 || ::bind(m_listener, address.Get(), address.length) != 0 || ::listen(m_listener, 0) != 0)
        return;
    if (::getsockname(m_listener, address.Get(), &address.length) != 0)
        return;
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6 *>(&address.storage)->sin6_port
                        : reinterpret_cast<sockaddr_in *>(&address.storage)->sin_port);

    LoopbackAddress target = Loopback(ipv6, m_port);
    for (int i = 0; i < MaxFillers && !m_stuck; ++i) {
        const int filler = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (filler < 0)
            return;
        m_fillers.push_back(filler);
        if (::connect(filler, target.Get(), target.length) == 0)
            continue;
        if (errno != EINPROGRESS)
            return;
        pollfd entry{filler, POLLOUT, 0};
        m_stuck = ::poll(&entry, 1, FillerHandshakeMs) == 0;
    }
}

StuckListener::~StuckListener()
{
    for (int filler : m_fillers)
        ::close(filler);
    if (m_listener >= 0)
        ::close(m_listener);
}
