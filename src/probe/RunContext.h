#pragma once

#include "probe/ProbeResult.h"

#include <string>
#include <vector>

// The words as a POSIX shell takes them back: each one that holds more than
// letters, digits and -_./:=,+@% in single quotes.
std::string ShellLine(const std::vector<std::string> &words);

// Where and when the probe runs, read now: the date, the host, its system,
// kernel and processors, and the load average.
ProbeContext ReadRunContext(const std::string &commandLine);
