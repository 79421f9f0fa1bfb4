#pragma once

#include "probe/ProbeResult.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a soak's verdict rests on.
struct SoakFigures {
    std::int64_t asked = 0; // what the rate asks for over the soak, less each run's start
    std::int64_t sent = 0;
    std::int64_t lost = 0;
    double seconds = 0;
    std::optional<double> rssSlopeMbPerHour;
    std::optional<double> p99FirstTenthMs;
    std::optional<double> p99LastTenthMs;
};

struct SoakLimits {
    double maxRssGrowthMbPerHour = 50;
    double maxLoss = 0; // a share of sent
};

struct SoakJudgement {
    std::string verdict; // holds, leaks or degrades
    std::string reason;
};

// leaks: memory grows faster than the limit; degrades: the last tenth's p99
// is more than twice the first's (and 5 ms more, so a busy machine's
// jitter is no trend), more was lost than allowed, or the sender
// could not send what the rate asks; holds otherwise. The reason names all
// that was found, or the figures that held.
SoakJudgement JudgeSoak(const SoakFigures &figures, const SoakLimits &limits);

// The slope of resident memory over time, in MB an hour, by least squares
// over each process's samples, summed over the processes; none when no
// process has two samples apart in time.
std::optional<double> RssSlopeMbPerHour(const std::vector<WatchSample> &samples);
