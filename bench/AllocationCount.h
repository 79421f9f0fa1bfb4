#pragma once

#include <cstdint>

// Heap allocations through operator new since the program started, counted
// by the benchmark's replacement of it: the difference over a stretch of
// work shows whether that work allocates.
std::uint64_t AllocationCount();
