#pragma once

#include <ctime>

// The processor time one thread has used, readable from any thread: a
// thread whose time grows as fast as the wall clock holds a core fully.
class ThreadCpuClock {
public:
    // The calling thread's.
    ThreadCpuClock();
    double Seconds() const;

private:
    clockid_t m_clock = CLOCK_THREAD_CPUTIME_ID;
};
