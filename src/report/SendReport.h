#pragma once

#include "load/RunSummary.h"
#include "load/SendOptions.h"
#include "load/SendSeconds.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

std::string SummaryLine(const RunSummary &summary);
// The line each second: "3 s of 10 s: 3,000 sent, 0 failed, 1,000 MPS of
// 1,000 MPS asked"; duration 0: none; asked: the rate the last second asked.
std::string SendProgressLine(double elapsed, double duration, const SendCounters &now, std::int64_t lastSecond,
                             std::optional<double> asked);
// A line for each connection that lost a session: none when all held.
std::vector<std::string> ConnectionLines(const RunSummary &summary);
// With several targets or ports, a line for each.
std::vector<std::string> TargetLines(const RunSummary &summary);
std::string SummaryJson(const RunSummary &summary, const Options &options);
