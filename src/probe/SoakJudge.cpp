#include "probe/SoakJudge.h"

#include "common/TextHelpers.h"

#include <cmath>
#include <map>
#include <sstream>

namespace {
// The sender reached the rate when it sent this share of what was asked.
constexpr double SentShareReached = 0.97;
constexpr double DegradeFactor = 2;
constexpr double DegradeLeastMs = 5;
constexpr double BytesPerMb = 1024.0 * 1024.0;
// Below this an hourly slope is mostly extrapolation.
constexpr double ShortSoakSeconds = 600;

std::string Ms(double value)
{
    return Fixed(value, value < 10 ? 1 : 0) + " ms";
}

std::string Join(const std::vector<std::string> &parts)
{
    std::string text;
    for (const std::string &part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}
} // namespace

SoakJudgement JudgeSoak(const SoakFigures &f, const SoakLimits &limits)
{
    std::vector<std::string> leaks;
    std::vector<std::string> degrades;
    std::vector<std::string> held;
    const std::string slope = f.rssSlopeMbPerHour ? Fixed(*f.rssSlopeMbPerHour, 1) + " MB/h" : std::string();
    if (!f.rssSlopeMbPerHour)
        held.push_back("memory not measured (watch the collector with --watch-pid or --watch-command)");
    else if (*f.rssSlopeMbPerHour > limits.maxRssGrowthMbPerHour)
        leaks.push_back("resident memory grows " + slope + ", above --max-rss-growth " +
                        Fixed(limits.maxRssGrowthMbPerHour, 0) + " MB/h" +
                        (f.seconds < ShortSoakSeconds ? " (over " + Fixed(f.seconds, 0) +
                                                            " s only: a longer soak tells a leak from a collector "
                                                            "settling)"
                                                      : std::string()));
    else
        held.push_back("memory " + slope + " (at most " + Fixed(limits.maxRssGrowthMbPerHour, 0) + ")");

    if (f.asked > 0 && static_cast<double>(f.sent) < SentShareReached * static_cast<double>(f.asked))
        degrades.push_back("sent " + Grouped(f.sent) + " of the " + Grouped(f.asked) + " messages the rate asks for");
    const double lossShare = f.sent > 0 ? static_cast<double>(f.lost) / static_cast<double>(f.sent) : 0;
    const std::string lost =
        "lost " + Grouped(f.lost) + " of " + Grouped(f.sent) + " (" + Fixed(lossShare * 100, 2) + "%)";
    if (lossShare > limits.maxLoss)
        degrades.push_back(lost + ", above --max-loss " + Fixed(limits.maxLoss * 100, 2) + "%");
    else
        held.push_back(lost);

    if (f.p99FirstTenthMs && f.p99LastTenthMs) {
        const double first = *f.p99FirstTenthMs;
        const double last = *f.p99LastTenthMs;
        const std::string trend = "p99 " + Ms(first) + " in the first tenth, " + Ms(last) + " in the last";
        if (last > DegradeFactor * first && last - first >= DegradeLeastMs)
            degrades.push_back(trend + ", more than twice as long");
        else
            held.push_back(trend);
    }

    if (!leaks.empty()) {
        leaks.insert(leaks.end(), degrades.begin(), degrades.end());
        return {"leaks", Join(leaks)};
    }
    if (!degrades.empty())
        return {"degrades", Join(degrades)};
    return {"holds", Join(held)};
}

std::optional<double> RssSlopeMbPerHour(const std::vector<WatchSample> &samples)
{
    std::map<int, std::vector<const WatchSample *>> byProcess;
    for (const WatchSample &sample : samples)
        byProcess[sample.pid].push_back(&sample);
    std::optional<double> slope;
    for (const auto &[pid, own] : byProcess) {
        double meanSeconds = 0;
        double meanMb = 0;
        for (const WatchSample *sample : own) {
            meanSeconds += sample->seconds / static_cast<double>(own.size());
            meanMb += static_cast<double>(sample->rssBytes) / BytesPerMb / static_cast<double>(own.size());
        }
        double spread = 0;
        double together = 0;
        for (const WatchSample *sample : own) {
            const double dt = sample->seconds - meanSeconds;
            spread += dt * dt;
            together += dt * (static_cast<double>(sample->rssBytes) / BytesPerMb - meanMb);
        }
        if (spread > 0)
            slope = slope.value_or(0) + together / spread * 3600;
    }
    return slope;
}
