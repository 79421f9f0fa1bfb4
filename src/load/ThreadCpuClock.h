#pragma once

#include <ctime>
#include <optional>
#include <string>

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

// A thread's time on a processor and waiting in line for one, as the
// scheduler counts them: a thread that waits long shares its core with
// others, so what it measured is not its own pace.
struct ScheduleTimes {
    double runSeconds = 0;
    double waitSeconds = 0;
};
// From a schedstat file of /proc; none where the system keeps no such figures.
std::optional<ScheduleTimes> ReadScheduleTimes(const std::string &path);
std::optional<ScheduleTimes> ThisThreadSchedule();
