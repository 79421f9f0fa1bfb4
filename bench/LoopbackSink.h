#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// A loopback receiver reading on its own thread, as a syslog daemon would,
// so the sender never waits for this process to read.
class LoopbackSink {
public:
    explicit LoopbackSink(int type) : m_type(type), m_socket(::socket(AF_INET, type | SOCK_CLOEXEC, 0))
    {
        const int big = 8 * 1024 * 1024;
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length);
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        if (type == SOCK_STREAM)
            ::listen(m_socket, 1);
        m_thread = std::thread([this] { Receive(); });
    }
    ~LoopbackSink()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    std::uint16_t Port() const { return m_port; }
    std::size_t Datagrams() const { return m_datagrams; }
    std::size_t Bytes() const { return m_bytes; }

private:
    // Waits up to a tenth of a second, so the stop flag is seen.
    bool Readable(int fd)
    {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, 100) > 0;
    }
    void Receive()
    {
        int from = m_socket;
        if (m_type == SOCK_STREAM) {
            while (!m_stop && !Readable(m_socket)) {
            }
            from = m_stop ? -1 : ::accept(m_socket, nullptr, nullptr);
        }
        std::vector<char> buffer(256 * 1024);
        while (from >= 0 && !m_stop) {
            if (!Readable(from))
                continue;
            const ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
            if (got <= 0 && m_type == SOCK_STREAM)
                break;
            ++m_datagrams;
            m_bytes += static_cast<std::size_t>(std::max<ssize_t>(got, 0));
        }
        if (from >= 0 && from != m_socket)
            ::close(from);
    }

    int m_type;
    int m_socket;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_datagrams{0};
    std::atomic<std::size_t> m_bytes{0};
    std::thread m_thread;
};
