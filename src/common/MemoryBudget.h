#pragma once

#include <cstddef>
#include <optional>
#include <string>

// What ulimit -v (RLIMIT_AS) leaves this process now; none without a limit.
std::optional<std::size_t> AddressSpaceLeft();

// What one input held whole for a run (a template set, a file of lines, a
// capture, logs to merge) may take: half of what ulimit -v leaves, so the
// run keeps room for its threads and buffers; without a limit, a quarter of
// this machine's memory.
std::size_t InputBudget();

// "the 300 MB this process may use (ulimit -v)", or without a limit "the
// 4.0 GB a file may take on this machine (a quarter of its memory)": the end
// of a usage error that names what did not fit.
std::string BudgetText(std::size_t budget);

// Bytes the way people read them: "900 bytes", "12 KB", "300 MB", "1.2 GB".
std::string MemoryText(std::size_t bytes);
