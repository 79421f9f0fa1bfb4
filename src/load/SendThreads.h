#pragma once

#include "load/SendOptions.h"

#include <cstdint>
#include <functional>
#include <vector>

// One sending thread's part of a run: its options (its share of the rate,
// the count and the connections, and its own random start) and the run's
// number of its first connection, or over UDP of its stream.
struct ThreadShare {
    Options options;
    int first = 0;
    int idleFirst = 0;
};

// The parts of a run of options.threads threads; a thread with no message of
// a --count to send gets none. Thread 0 starts where a run of one thread does.
std::vector<ThreadShare> ShareAmongThreads(const Options &options);

// Where thread number thread's random sequence starts, for a run started
// from start: far from every other thread's, and the same in every run.
std::uint64_t ThreadRandomStart(std::uint64_t start, int thread);

// Calls work(0) .. work(count - 1), each on a thread of its own with its own
// event loop, and tick on this thread about every 10 ms until all returned,
// this thread's event loop running in between.
void RunOnThreads(int count, const std::function<void(int)> &work, const std::function<void()> &tick);
