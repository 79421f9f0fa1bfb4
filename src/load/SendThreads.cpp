#include "load/SendThreads.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

namespace {
constexpr int TickMs = 10;
} // namespace

void RunOnThreads(int count, const std::function<void(int)> &work, const std::function<void()> &tick)
{
    std::atomic<int> running{count};
    // std::thread rather than QThread: the join is one a race detector
    // sees, so what a worker left behind is read without a lock after it.
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&work, &running, i] {
            // A thread Qt did not start gets its event dispatcher from its
            // first event loop: the worker's sockets and timers need it
            // from the start.
            QEventLoop{};
            work(i);
            running.fetch_sub(1);
        });
    // This thread's own events go on meanwhile: what it owns (a caller's
    // sockets, timers) keeps working while the workers send. The end is
    // seen at a tick: nothing is posted across threads.
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        tick();
        if (running.load() == 0)
            loop.quit();
    });
    ticker.start(TickMs);
    loop.exec();
    for (std::thread &thread : threads)
        thread.join();
}
