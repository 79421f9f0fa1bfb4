#pragma once

#include "cli/send/CommandLine.h"

#include <cstdint>
#include <string>
#include <vector>

// The window's saved settings as starting options, read from the same store
// and keys with the same ranges and defaults as the window's start-up. Saved
// format values that fail their checks are named in ignored ("Key: why").
Options SavedOptions(std::vector<std::string> *ignored = nullptr);

// The "####" counter saved for a target host (trimmed), or 0.
std::int32_t SavedSequenceNumber(const std::string &target);
