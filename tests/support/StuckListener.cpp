#include "support/StuckListener.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

// With a backlog of 0 the queue holds one connection; once the first filler
// waits in it, the kernel drops the second one's handshake, which so stays
// pending, as does every later connection.
StuckListener::StuckListener()
{
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0 || ::bind(m_listener, generic, length) != 0 || ::listen(m_listener, 0) != 0 ||
        ::getsockname(m_listener, generic, &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    for (int &filler : m_fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (filler < 0 || (::connect(filler, generic, length) != 0 && errno != EINPROGRESS))
            return;
        if (&filler == &m_fillers[0]) {
            pollfd queued{m_listener, POLLIN, 0};
            if (::poll(&queued, 1, 5000) != 1)
                return;
        }
    }
    pollfd second{m_fillers[1], POLLOUT, 0};
    m_stuck = ::poll(&second, 1, 0) == 0;
}

StuckListener::~StuckListener()
{
    for (int filler : m_fillers)
        if (filler >= 0)
            ::close(filler);
    if (m_listener >= 0)
        ::close(m_listener);
}

int UnacceptedListener(std::string &port, int backlog)
{
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    auto *generic = reinterpret_cast<sockaddr *>(&address);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(listener, generic, length) != 0 || ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, generic, &length) != 0)
        std::abort();
    port = std::to_string(ntohs(address.sin_port));
    return listener;
}
