#include "cli/common/ThreadCpuClock.h"

#include <pthread.h>

ThreadCpuClock::ThreadCpuClock()
{
    // This thread's clock id is valid in others; CLOCK_THREAD_CPUTIME_ID
    // would mean whichever thread reads it.
    clockid_t clock;
    if (::pthread_getcpuclockid(::pthread_self(), &clock) == 0)
        m_clock = clock;
}

double ThreadCpuClock::Seconds() const
{
    timespec now{};
    if (::clock_gettime(m_clock, &now) != 0)
        return 0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
