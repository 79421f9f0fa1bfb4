#pragma once

#include <QtGlobal>

#include <vector>

// A loopback TCP listener whose accept queue is full: a connection to it never
// completes, so an attempt stays pending (connect timeouts, cancelled waits).
class StuckListener {
public:
    explicit StuckListener(bool ipv6 = false);
    ~StuckListener();
    StuckListener(const StuckListener &) = delete;
    StuckListener &operator=(const StuckListener &) = delete;

    quint16 Port() const { return m_port; }
    const char *Host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }
    // False when the queue could not be filled (then connections may complete).
    bool IsStuck() const { return m_stuck; }

private:
    bool m_ipv6;
    int m_listener = -1;
    std::vector<int> m_fillers;
    quint16 m_port = 0;
    bool m_stuck = false;
};
