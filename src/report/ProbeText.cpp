#include "report/ProbeText.h"

#include "common/TextHelpers.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace {
std::string Megabytes(std::int64_t bytes)
{
    return Fixed(static_cast<double>(bytes) / (1024.0 * 1024.0), bytes < 10 * 1024 * 1024 ? 1 : 0) + " MB";
}
} // namespace

std::string StepLine(const ProbeStep &step, double stepSeconds)
{
    std::string line = "step " + std::to_string(step.number) + ": " + Grouped(std::llround(step.rate)) + " MPS for " +
                       Fixed(stepSeconds, stepSeconds == std::floor(stepSeconds) ? 0 : 1) + " s" +
                       (step.attempt > 1 ? " (run " + std::to_string(step.attempt) + ")" : "") + " ... ";
    if (step.held)
        line += step.noisy ? "holds (noisy)" : "holds";
    else if (step.verdict == "stopped")
        line += "stopped by a signal (" + Grouped(step.sent) + " sent)";
    else if (step.verdict == "sender")
        line += "the sender fell short (" + Grouped(step.sent) + " sent: " + step.reason + ")";
    else
        line += "fails (" + step.reason + ")";
    line += ": " + Grouped(step.lost) + " lost";
    if (step.refused > 0)
        line += ", " + Grouped(step.refused) + " refused";
    if (step.duplicates > 0)
        line += ", " + Grouped(step.duplicates) + " duplicated";
    if (step.stampsRewritten > 0)
        line += ", " + Grouped(step.stampsRewritten) + " timed before their stamps";
    if (step.latency)
        line += ", p99 " + Fixed(step.latency->p99, 1) + " ms";
    for (const ProcessFigures &process : step.processes)
        line += ", " + process.name + " " + Fixed(process.cpuPercent, 0) + "% CPU, " + Megabytes(process.rssBytes);
    return line;
}

std::string LatencyFloorText(const ProbeResult &result)
{
    std::optional<double> low;
    double high = 0;
    for (const ProbeStep &step : result.steps)
        if (step.verdict == "latency" && step.latency) {
            low = std::min(low.value_or(step.latency->p99), step.latency->p99);
            high = std::max(high, step.latency->p99);
        }
    const auto ms = [](double value) { return Fixed(value, value < 10 ? 1 : 0); };
    if (!low)
        return "the p99 stays above --max-p99-ms at every rate tried";
    return "p99 is " + (ms(*low) == ms(high) ? ms(high) : ms(*low) + " to " + ms(high)) +
           " ms at every rate tried, above --max-p99-ms (a latency floor no rate gets under)";
}

std::string RewrittenStampsText(const ProbeResult &result)
{
    std::int64_t count = 0;
    std::string steps;
    for (const ProbeStep &step : result.steps)
        if (step.stampsRewritten > 0) {
            count += step.stampsRewritten;
            steps += (steps.empty() ? "" : ", ") + std::to_string(step.number);
        }
    if (count == 0)
        return {};
    return Grouped(count) + (count == 1 ? " message" : " messages") + " in step" +
           (steps.find(',') == std::string::npos ? " " : "s ") + steps +
           " arrived no later than their stamps say they were sent: clock or stamp rewritten, so their latency "
           "tells nothing";
}

std::string SoakText(const SoakResult &soak)
{
    std::string text = "Soak at " + Grouped(std::llround(soak.rate)) + " MPS for " + Fixed(soak.durationSeconds, 0) +
                       " s: " + soak.verdict + " (" + soak.reason;
    if (soak.cpuPercent)
        text += "; collector at " + Fixed(*soak.cpuPercent, 0) + "% CPU";
    return text + ")";
}

std::string ProbeSummaryText(const ProbeResult &result)
{
    std::string text;
    const std::string &by = result.limitedBy;
    if (result.steps.empty() && result.soak) {
        text = SoakText(*result.soak);
    } else if (result.steps.empty()) {
        text = "No step ran";
    } else if (result.maxSustainableMps <= 0 && by.empty()) {
        text = "The probe ended before any rate held";
    } else if (result.maxSustainableMps <= 0 && by == "sender") {
        const auto fell = std::find_if(result.steps.begin(), result.steps.end(),
                                       [](const ProbeStep &step) { return step.verdict == "sender"; });
        text = "No rate could be judged: the sender could not reach " +
               Grouped(std::llround(fell == result.steps.end() ? 0 : fell->rate)) + " MPS";
    } else if (result.maxSustainableMps <= 0 && by == "refused") {
        text = "Nothing reached the collector: the target refused what was sent";
    } else if (result.maxSustainableMps <= 0 && by == "latency-floor") {
        text = "The collector sustained none of the rates tried: " + LatencyFloorText(result);
    } else if (result.maxSustainableMps <= 0) {
        text = "The collector sustained none of the rates tried (limited by " + by + ")";
    } else if (by == "latency-floor") {
        text = "The collector sustains " + Grouped(std::llround(result.maxSustainableMps)) + " MPS; above it " +
               LatencyFloorText(result);
    } else {
        text = "The collector sustains " + Grouped(std::llround(result.maxSustainableMps)) + " MPS";
        if (by == "sender")
            text += "; the sender could go no faster, so the collector was not the limit";
        else if (by == "max-rate")
            text += ", the highest rate allowed (--max-rate)";
        else if (!by.empty())
            text += "; above it, it fails by " + by;
    }
    if (!result.error.empty())
        text += " (the probe could not finish)";
    text += ".\nConfidence: " + result.confidence +
            (result.confidenceReason.empty() ? "" : ": " + result.confidenceReason) + ".\n";
    for (const ProbeStep &step : result.steps)
        text += "  " + StepLine(step, result.settings.stepSeconds) + "\n";
    if (const std::string warning = RewrittenStampsText(result); !warning.empty())
        text += "Warning: " + warning + ".\n";
    if (result.soak && !result.steps.empty())
        text += SoakText(*result.soak) + ".\n";
    if (!result.detachedNote.empty())
        text += result.detachedNote + ".\n";
    return text;
}
