#pragma once

#include <QtGlobal>

#include <string>

// A loopback TCP listener whose accept queue is full: a connection to it never
// completes, so an attempt stays pending (connect timeouts, cancelled waits).
class StuckListener {
public:
    StuckListener();
    ~StuckListener();
    StuckListener(const StuckListener &) = delete;
    StuckListener &operator=(const StuckListener &) = delete;

    quint16 Port() const { return m_port; }
    const char *Host() const { return "127.0.0.1"; }
    // False when the queue could not be filled (then connections may complete).
    bool IsStuck() const { return m_stuck; }

private:
    int m_listener = -1;
    int m_fillers[2] = {-1, -1};
    quint16 m_port = 0;
    bool m_stuck = false;
};

// A loopback TCP listener that never accepts: the system completes up to
// backlog connections, takes what fits their buffers, then nothing. Its
// descriptor, for the caller to close (closed at once: a refusing port).
int UnacceptedListener(std::string &port, int backlog = 8);
