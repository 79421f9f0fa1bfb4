#pragma once

#include <functional>

// Calls work(0) .. work(count - 1), each on a thread of its own with its own
// event loop, and tick on this thread about every 10 ms until all returned,
// this thread's event loop running in between.
void RunOnThreads(int count, const std::function<void(int)> &work, const std::function<void()> &tick);
