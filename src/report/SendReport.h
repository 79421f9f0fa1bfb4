#pragma once

#include "load/RunSummary.h"
#include "load/SendOptions.h"

#include <string>
#include <vector>

std::string SummaryLine(const RunSummary &summary);
// A line for each connection that lost a session: none when all held.
std::vector<std::string> ConnectionLines(const RunSummary &summary);
// With several targets or ports, a line for each.
std::vector<std::string> TargetLines(const RunSummary &summary);
std::string SummaryJson(const RunSummary &summary, const Options &options);
