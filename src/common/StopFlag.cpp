#include "common/StopFlag.h"

#include <atomic>

namespace {
// Set from a signal handler and read by every sending and receiving thread.
std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch a lock-free atomic");
} // namespace

bool StopRequested()
{
    return g_stop.load(std::memory_order_relaxed) != 0;
}

void RequestStop()
{
    g_stop.store(1, std::memory_order_relaxed);
}

void ClearStopRequest()
{
    g_stop.store(0, std::memory_order_relaxed);
}
