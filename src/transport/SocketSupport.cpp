#include "transport/SocketSupport.h"

#include "transport/AddressLookup.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

QString SystemErrorText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

bool IsWouldBlock(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool ValidPort(std::int32_t port, std::int32_t lowest)
{
    return port >= lowest && port <= 65535;
}

int RemainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

int OpenSocket(int family, int type, std::int32_t localPort)
{
    const int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || localPort <= 0)
        return fd;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const SocketAddress local = AnyAddress(family, static_cast<std::uint16_t>(localPort));
    if (::bind(fd, local.Get(), local.length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool WriteWaits::Until(int fd, SteadyClock::time_point deadline)
{
    const auto start = SteadyClock::now();
    bool writable = false;
    for (;;) {
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, RemainingMs(deadline));
        if (ready > 0)
            writable = true;
        if (ready > 0 || ready == 0 || errno != EINTR)
            break;
    }
    m_blocked += SteadyClock::now() - start;
    return writable;
}
