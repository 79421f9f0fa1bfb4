#pragma once

#include "probe/ProbeResult.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One reading of a process from /proc.
struct ProcReading {
    std::string name;
    // User and system time, in seconds.
    double cpuSeconds = 0;
    std::int64_t rssBytes = 0;
};

// Reads /proc/PID/stat and /proc/PID/statm; a seam so the share arithmetic
// can be fed readings of its own.
class ProcReader {
public:
    virtual ~ProcReader() = default;
    // None once the process is gone.
    virtual std::optional<ProcReading> Read(int pid) const;
};

// The probe's seconds, from its start.
class ProbeClock {
public:
    virtual ~ProbeClock() = default;
    virtual double Seconds() const;

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// The watched processes' CPU share and resident memory each second, on a
// thread of its own so steps and drains do not hold it up.
class ProcessWatch {
public:
    ProcessWatch(std::vector<int> pids, const ProcReader &reader, const ProbeClock &clock);
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch &) = delete;
    ProcessWatch &operator=(const ProcessWatch &) = delete;

    void Start();
    void Stop();
    // Takes a reading of every process now: the share since the last one.
    void Sample();
    std::vector<WatchSample> Samples() const;
    // Each process over [from, to]: its mean CPU share and largest memory.
    std::vector<ProcessFigures> Between(double from, double to) const;

private:
    struct Last {
        double seconds = 0;
        double cpuSeconds = 0;
    };

    std::vector<int> m_pids;
    const ProcReader &m_reader;
    const ProbeClock &m_clock;
    std::map<int, Last> m_last;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::vector<WatchSample> m_samples;
    std::thread m_thread;
};
