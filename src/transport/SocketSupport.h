#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>

// What the datagram and stream endpoints share about their sockets.

using SteadyClock = std::chrono::steady_clock;

QString SystemErrorText(int number);
bool IsWouldBlock(int error);
bool ValidPort(std::int32_t port, std::int32_t lowest);
int RemainingMs(SteadyClock::time_point deadline);

// A non-blocking socket, bound to localPort when it is above 0; -1 with
// errno when it could not be made or bound.
[[nodiscard]] int OpenSocket(int family, int type, std::int32_t localPort);

// Waits for a full socket to take more, and keeps the time spent so.
class WriteWaits {
public:
    // False when the deadline passed first.
    [[nodiscard]] bool Until(int fd, SteadyClock::time_point deadline);
    std::chrono::nanoseconds Blocked() const { return m_blocked; }

private:
    std::chrono::nanoseconds m_blocked{0};
};

// Bumped when an endpoint closes its socket: events posted for the older
// socket are then dropped instead of reaching the next session.
class EventGeneration {
public:
    void Bump() { ++m_current; }
    std::uint64_t Current() const { return m_current; }
    // Runs call from owner's event loop, never from inside the caller, unless
    // Bump came first. Owned by owner, so it lives as long as the queued call.
    template <typename Call> void Post(QObject *owner, Call call) const
    {
        QMetaObject::invokeMethod(
            owner,
            [this, postedIn = m_current, call] {
                if (m_current == postedIn)
                    call();
            },
            Qt::QueuedConnection);
    }

private:
    std::uint64_t m_current = 0;
};
