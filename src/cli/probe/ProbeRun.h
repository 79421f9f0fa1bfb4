#pragma once

#include "cli/probe/ProbeCommandLine.h"
#include "probe/ProbeResult.h"

#include <ostream>
#include <string>
#include <vector>

// A step's progress line: "step 6: 48,000 MPS for 10 s ... holds: 0 lost,
// p99 2.1 ms, rsyslogd 61% CPU, 14 MB".
std::string StepLine(const ProbeStep &step, double stepSeconds);
// The soak's verdict in one sentence: "Soak at 4,500 MPS for 3600 s: holds (...)".
std::string SoakText(const SoakResult &soak);
// The verdict in one sentence, then a line per step.
std::string ProbeSummaryText(const ProbeResult &result);

// Runs the search as the options say: progress on err, the result on out.
// Needs a QCoreApplication on this thread, which the sender's steps use.
ProbeResult RunProbe(const ProbeOptions &options, std::ostream &err);

// The whole program: flags, help, version, the probe, its output; returns
// the exit status.
int RunProbeCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
