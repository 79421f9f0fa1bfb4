#pragma once

#include "engine/Stamp.h"

#include <cstdint>

// This sender's part of a run spread over several (--shard I/N): 1/N of the
// rate and the stream ids of shard I, which no other shard uses.
struct Shard {
    static constexpr std::uint64_t MaxCount = 1'000'000;
    // Set by a Kubernetes Indexed Job in each pod: its index from 0.
    static constexpr const char *IndexVariable = "JOB_COMPLETION_INDEX";

    std::uint64_t index = 0;
    std::uint64_t count = 1;

    double Share() const { return 1.0 / static_cast<double>(count); }
    // This shard's stream number indexInShard (from 0), which no other shard's
    // streams share.
    std::uint64_t Stream(std::uint64_t indexInShard) const { return StreamId(index, indexInShard); }
};
