#pragma once

#include "cli/send/CommandLine.h"

#include <cstdint>
#include <string>

// What a run did, counted without the window's wrap at 1,000,000.
struct RunSummary {
    std::int64_t sent = 0;
    std::int64_t failed = 0;
    std::int64_t bytes = 0;
    double elapsedSeconds = 0;
    // once, count, duration, signal, connection, error
    std::string stoppedBy;
    std::string error;
    int exitStatus = 0;
};

std::string SummaryLine(const RunSummary &summary);
std::string SummaryJson(const RunSummary &summary, const Options &options);
