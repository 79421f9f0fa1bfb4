#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

// The bytes of one accepted stream connection. Plain TCP reads the socket;
// a TLS session wraps it and may want to write during its handshake, which
// it says through WantedEvents. The connection keeps the socket and closes it.
class StreamSession {
public:
    enum class ReadStatus { Data, Again, Closed, Failed };
    virtual ~StreamSession() = default;
    // The got bytes count whatever the status: a session may hand on its
    // last bytes together with Closed or Failed.
    virtual ReadStatus Read(char *buffer, std::size_t capacity, std::size_t &got) = 0;
    virtual std::uint32_t WantedEvents() const { return EPOLLIN; }
    // False while a handshake is still under way.
    virtual bool Established() const { return true; }
    // Why the session failed, in the user's words; empty when it did not.
    virtual std::string FailureText() const { return {}; }
    // Tells the peer the end while reading goes on; false when the session
    // cannot (a TLS session owes its own close first).
    virtual bool HalfClose() { return false; }
};

class PlainSession final : public StreamSession {
public:
    explicit PlainSession(int fd) : m_fd(fd) {}
    ReadStatus Read(char *buffer, std::size_t capacity, std::size_t &got) override
    {
        got = 0;
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, capacity);
            if (n > 0) {
                got = static_cast<std::size_t>(n);
                return ReadStatus::Data;
            }
            if (n == 0)
                return ReadStatus::Closed;
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? ReadStatus::Again : ReadStatus::Failed;
        }
    }

    bool HalfClose() override { return ::shutdown(m_fd, SHUT_WR) == 0; }

private:
    int m_fd;
};

// Makes the session for a socket just accepted; nullptr refuses it.
using SessionFactory = std::function<std::unique_ptr<StreamSession>(int fd)>;
