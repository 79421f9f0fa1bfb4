#include "probe/StepNoise.h"

#include "common/TextHelpers.h"
#include "load/ThreadCpuClock.h"
#include "probe/ProcessWatch.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

namespace {
// A step is noisy when the machine had less than this share idle, the
// host took this share away, or one of the probe's threads waited this
// share of the step for a processor: its pace was not its own.
constexpr double LeastIdle = 0.05;
constexpr double MostSteal = 0.1;
constexpr double MostWait = 0.1;

std::string Percent(double share)
{
    return std::to_string(static_cast<int>(std::lround(share * 100))) + "%";
}

std::map<int, double> ThreadWaits()
{
    std::map<int, double> waits;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (const auto times = ReadScheduleTimes(tasks.filePath(task).toStdString() + "/schedstat"))
            waits[task.toInt()] = times->waitSeconds;
    return waits;
}

std::optional<MachineTimes> ReadMachineTimes()
{
    std::ifstream file("/proc/stat");
    std::string line;
    if (!std::getline(file, line))
        return std::nullopt;
    return ParseMachineTimes(line);
}

std::string RateText(double rate)
{
    return Grouped(std::llround(rate)) + " MPS";
}
} // namespace

std::optional<MachineTimes> ParseMachineTimes(const std::string &procStat)
{
    // cpu user nice system idle iowait irq softirq steal (guest time is in user's)
    std::istringstream fields(procStat);
    std::string name;
    double ticks[8] = {};
    fields >> name;
    for (double &value : ticks)
        fields >> value;
    if (name != "cpu" || !fields)
        return std::nullopt;
    MachineTimes times;
    for (const double value : ticks)
        times.total += value;
    times.idle = ticks[3] + ticks[4];
    times.steal = ticks[7];
    return times;
}

void NoiseMeter::Start()
{
    m_start = std::chrono::steady_clock::now();
    m_machine = ReadMachineTimes();
    const auto self = m_reader.Read(static_cast<int>(::getpid()));
    m_probeCpu = self ? self->cpuSeconds : 0;
    m_waits = ThreadWaits();
}

StepNoise NoiseMeter::Finish(double senderWaitShare) const
{
    StepNoise noise;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    if (seconds <= 0)
        return noise;
    const std::optional<MachineTimes> machine = ReadMachineTimes();
    if (m_machine && machine && machine->total > m_machine->total) {
        const double total = machine->total - m_machine->total;
        noise.idleCpuShare = (machine->idle - m_machine->idle) / total;
        noise.stealShare = (machine->steal - m_machine->steal) / total;
    }
    if (const auto self = m_reader.Read(static_cast<int>(::getpid())))
        noise.probeCpuPercent = (self->cpuSeconds - m_probeCpu) / seconds * 100;
    noise.probeWaitShare = senderWaitShare;
    for (const auto &[thread, wait] : ThreadWaits())
        if (const auto before = m_waits.find(thread); before != m_waits.end())
            noise.probeWaitShare = std::max(noise.probeWaitShare, (wait - before->second) / seconds);
    return noise;
}

std::string NoiseReason(const StepNoise &noise)
{
    std::string reason;
    const auto add = [&reason](const std::string &text) { reason += (reason.empty() ? "" : ", ") + text; };
    if (noise.idleCpuShare < LeastIdle)
        add("the machine was " + Percent(1 - noise.idleCpuShare) + " busy");
    if (noise.stealShare > MostSteal)
        add("the host took " + Percent(noise.stealShare) + " of the processors' time");
    if (noise.probeWaitShare > MostWait)
        add("the probe's threads waited " + Percent(noise.probeWaitShare) + " of the time for a processor");
    return reason;
}

void AssessConfidence(ProbeResult &result)
{
    std::vector<std::string> reasons;
    if (!result.error.empty())
        reasons.push_back("the probe did not finish");
    // The boundary: the rate found, and the lowest that failed above it
    // (the sender's own failure says nothing of the collector).
    const double found = result.maxSustainableMps;
    std::optional<double> failed;
    for (const ProbeStep &step : result.steps)
        if (!step.held && step.verdict != "sender" && step.verdict != "stopped" && step.rate > found &&
            (!failed || step.rate < *failed))
            failed = step.rate;
    // A latency that cannot be measured is no latency: every p99 is in doubt.
    std::int64_t rewritten = 0;
    for (const ProbeStep &step : result.steps)
        rewritten += step.stampsRewritten;
    if (rewritten > 0)
        reasons.push_back(std::to_string(rewritten) +
                          " messages arrived no later than their stamps say they were sent (clock or stamp rewritten)");
    std::set<double> noisyRates;
    for (const ProbeStep &step : result.steps)
        if (step.noisy && ((found > 0 && step.rate == found) || (failed && step.rate == *failed)) &&
            noisyRates.insert(step.rate).second)
            reasons.push_back("step " + std::to_string(step.number) + " at " + RateText(step.rate) +
                              " was noisy: " + NoiseReason(step.noise));
    if (!result.confirmed && result.error.empty()) {
        std::string why;
        for (const double rate : {found, failed.value_or(0)}) {
            int runs = 0;
            int held = 0;
            for (const ProbeStep &step : result.steps)
                if (rate > 0 && step.rate == rate) {
                    ++runs;
                    held += step.held ? 1 : 0;
                }
            if (held > 0 && held < runs)
                why += (why.empty() ? "" : ", ") + RateText(rate) + " held " + std::to_string(held) + " of " +
                       std::to_string(runs) + " times";
        }
        if (!why.empty())
            reasons.push_back("runs at the boundary disagreed: " + why);
        else if (result.steps.empty() && result.soak)
            reasons.push_back("no search was run (--soak-rate)");
        else if (result.settings.confirm == 0)
            reasons.push_back("the boundary was not run again (--confirm 0)");
        else
            reasons.push_back("no boundary was found to confirm");
    }
    result.confidence = reasons.empty() ? "high" : "low";
    result.confidenceReason.clear();
    for (const std::string &reason : reasons)
        result.confidenceReason += (result.confidenceReason.empty() ? "" : "; ") + reason;
}
