#pragma once

#include "load/LoadShape.h"
#include "load/ReplayLines.h"
#include "load/SendOptions.h"

#include <cstdint>
#include <optional>
#include <vector>

// One sending thread's part of a run.
struct ThreadShare {
    // Its place among the run's threads, a thread left without messages
    // counted: line i of a replay goes to thread i mod threads.
    int thread = 0;
    // Its part of the load shape, this shard's share included, and of a
    // --count (0: no limit).
    LoadShape shape;
    std::int64_t count = 0;
    // Its sending and idle sessions, and the run's numbers of the first of
    // each; over UDP first numbers its stream.
    int connections = 0;
    int idleConnections = 0;
    int first = 0;
    int idleFirst = 0;
    // Where its random sequence starts; none: where a run of one thread does.
    std::optional<std::uint64_t> seed;
};

// What a run sends, where and at what pace, and each thread's share of it:
// made once, then read by every thread, never changed.
struct LoadPlan {
    // The messages and how sessions are opened and paced. Its count, shape,
    // connections and seed are the whole run's: a thread reads its own in
    // its share.
    Options options;
    // Every target at every port, or the Unix socket.
    std::vector<Destination> destinations;
    std::vector<ThreadShare> shares;
};

// Shares options.threads threads' worth of the run; a thread with no message
// of a --count to send gets none. Thread 0 starts where a run of one does.
LoadPlan MakeLoadPlan(const Options &options);

// The lines of a --replay file that fall to one thread of this shard.
ReplayLane ReplayLaneOf(const LoadPlan &plan, const ThreadShare &share);

// Where thread number thread's random sequence starts, for a run started
// from start: far from every other thread's, and the same in every run.
std::uint64_t ThreadRandomStart(std::uint64_t start, int thread);
