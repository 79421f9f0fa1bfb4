#pragma once

#include "probe/ProbeResult.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>

class ProcReader;

// The machine's processor time from the first line of /proc/stat, in ticks.
struct MachineTimes {
    double total = 0;
    double idle = 0; // idle and waiting for input and output
    double steal = 0;
};
std::optional<MachineTimes> ParseMachineTimes(const std::string &procStat);

// Measures what else went on while a step sent: the machine's idle and
// stolen time, and the probe's own processor use and waits for a processor.
class NoiseMeter {
public:
    explicit NoiseMeter(const ProcReader &reader) : m_reader(reader) {}

    void Start();
    // senderWaitShare: the sending threads' own, which end with the step.
    StepNoise Finish(double senderWaitShare) const;

private:
    const ProcReader &m_reader;
    std::chrono::steady_clock::time_point m_start;
    std::optional<MachineTimes> m_machine;
    double m_probeCpu = 0;
    // Each of the probe's threads' wait for a processor, by thread id.
    std::map<int, double> m_waits;
};

// Why a step's figures cannot be trusted as the collector's ("the machine
// was 98% busy"); empty when the step ran undisturbed.
std::string NoiseReason(const StepNoise &noise);

// How sure the answer is: low when it rests on a noisy step at the boundary
// (the rate found and the lowest that failed above it) or on a boundary
// that was not confirmed, with the reason.
void AssessConfidence(ProbeResult &result);
