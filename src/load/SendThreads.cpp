#include "load/SendThreads.h"

#include "common/Random.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {
constexpr int TickMs = 10;

// splitmix64's output function: nearby inputs give unrelated outputs.
std::uint64_t Mix(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}
} // namespace

std::uint64_t ThreadRandomStart(std::uint64_t start, int thread)
{
    if (thread == 0)
        return start;
    return Mix(start + 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(thread));
}

std::vector<ThreadShare> ShareAmongThreads(const Options &options)
{
    const int threads = std::max(1, options.threads);
    const int connections = ConnectionCount(options);
    // Idle sessions go to the threads that send: a thread left without a
    // message of a --count never opens any.
    const int sending = options.count > 0 ? static_cast<int>(std::min<std::int64_t>(threads, options.count)) : threads;
    std::vector<ThreadShare> shares;
    int first = 0;
    int idleFirst = 0;
    for (int i = 0; i < threads; ++i) {
        ThreadShare share{options, IsStream(options.transport) ? first : i, idleFirst};
        Options &o = share.options;
        o.threads = 1;
        o.connections = connections / threads + (i < connections % threads ? 1 : 0);
        first += o.connections;
        o.idleConnections =
            i < sending ? options.idleConnections / sending + (i < options.idleConnections % sending ? 1 : 0) : 0;
        idleFirst += o.idleConnections;
        if (options.pace == Pace::Rate)
            o.shape = options.shape.Scaled(1.0 / threads);
        // Line i goes to thread i mod threads, as the count is shared.
        o.replayThread = i;
        o.replayThreads = threads;
        if (options.count > 0) {
            o.count = options.count / threads + (i < options.count % threads ? 1 : 0);
            if (o.count == 0)
                continue;
        }
        if (i > 0)
            o.seed = ThreadRandomStart(options.seed.value_or(FixedRandomStart), i);
        shares.push_back(std::move(share));
    }
    return shares;
}

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
