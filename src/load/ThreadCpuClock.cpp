#include "load/ThreadCpuClock.h"

#include <cstdio>

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

std::optional<ScheduleTimes> ReadScheduleTimes(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "re");
    if (!file)
        return std::nullopt;
    unsigned long long runNs = 0;
    unsigned long long waitNs = 0;
    const bool read = std::fscanf(file, "%llu %llu", &runNs, &waitNs) == 2;
    std::fclose(file);
    if (!read)
        return std::nullopt;
    return ScheduleTimes{static_cast<double>(runNs) * 1e-9, static_cast<double>(waitNs) * 1e-9};
}

std::optional<ScheduleTimes> ThisThreadSchedule()
{
    return ReadScheduleTimes("/proc/thread-self/schedstat");
}
