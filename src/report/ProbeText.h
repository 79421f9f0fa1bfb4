#pragma once

#include "probe/ProbeResult.h"

#include <string>

// A step's progress line: "step 6: 48,000 MPS for 10 s ... holds: 0 lost,
// p99 2.1 ms, rsyslogd 61% CPU, 14 MB".
std::string StepLine(const ProbeStep &step, double stepSeconds);
// The soak's verdict in one sentence: "Soak at 4,500 MPS for 3600 s: holds (...)".
std::string SoakText(const SoakResult &soak);
// "p99 is 50 ms at every rate tried, above --max-p99-ms (...)": what the
// steps that failed by latency share.
std::string LatencyFloorText(const ProbeResult &result);
// Empty, or how many messages arrived no later than their stamps' time and
// in which steps.
std::string RewrittenStampsText(const ProbeResult &result);
// The verdict in one sentence, then a line per step.
std::string ProbeSummaryText(const ProbeResult &result);
