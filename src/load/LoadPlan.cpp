#include "load/LoadPlan.h"

#include "common/Random.h"

#include <algorithm>

namespace {
// splitmix64's output function: nearby inputs give unrelated outputs.
std::uint64_t Mix(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

int ThreadsOf(const Options &options)
{
    return std::max(1, options.threads);
}

// Part i of total dealt over parts, the first ones a unit larger.
template <typename Number> Number PartOf(Number total, int parts, int i)
{
    return total / parts + (i < total % parts ? 1 : 0);
}
} // namespace

std::uint64_t ThreadRandomStart(std::uint64_t start, int thread)
{
    if (thread == 0)
        return start;
    return Mix(start + 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(thread));
}

LoadPlan MakeLoadPlan(const Options &options)
{
    LoadPlan plan{options, Destinations(options), {}};
    const int threads = ThreadsOf(options);
    const int connections = ConnectionCount(options);
    // Idle sessions go to the threads that send: a thread left without a
    // message of a --count never opens any.
    const int sending = options.count > 0 ? static_cast<int>(std::min<std::int64_t>(threads, options.count)) : threads;
    const LoadShape shape = options.pace == Pace::Rate ? options.shape.Scaled(1.0 / threads) : options.shape;
    int first = 0;
    int idleFirst = 0;
    for (int i = 0; i < threads; ++i) {
        ThreadShare share;
        share.thread = i;
        share.shape = shape.Scaled(options.shard.Share());
        share.connections = PartOf(connections, threads, i);
        share.idleConnections = i < sending ? PartOf(options.idleConnections, sending, i) : 0;
        share.first = IsStream(options.transport) ? first : i;
        share.idleFirst = idleFirst;
        first += share.connections;
        idleFirst += share.idleConnections;
        if (options.count > 0) {
            share.count = PartOf<std::int64_t>(options.count, threads, i);
            if (share.count == 0)
                continue;
        }
        share.seed = i == 0 ? options.seed : ThreadRandomStart(options.seed.value_or(FixedRandomStart), i);
        plan.shares.push_back(std::move(share));
    }
    return plan;
}

ReplayLane ReplayLaneOf(const LoadPlan &plan, const ThreadShare &share)
{
    const Options &options = plan.options;
    const auto threads = static_cast<std::uint64_t>(ThreadsOf(options));
    ReplayLane lane{options.replayFile, options.replayLoop,
                    options.shard.index + options.shard.count * static_cast<std::uint64_t>(share.thread),
                    options.shard.count * threads};
    lane.joined = options.replayJoinLines;
    return lane;
}
