#pragma once

#include "load/LoadPlan.h"
#include "load/RunSummary.h"
#include "load/SendChannel.h"
#include "load/SendSeconds.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class TlsClientContext;

// A worker's counters at one of its second marks, or at its end.
struct WorkerMark {
    double elapsed = 0;
    double epoch = 0;
    SendCounters counters;
};

// Where a worker leaves its marks for the coordinator: once a second, so the
// lock is never on the sending path.
class WorkerMarks {
public:
    void Post(WorkerMark mark);
    // After its last second: its counters when it ended (none when it never
    // started sending).
    void End(std::optional<WorkerMark> last);

    // The oldest second's mark not yet taken.
    std::optional<WorkerMark> Take();
    // True once the worker ended and every second's mark was taken.
    bool Over();
    std::optional<WorkerMark> Last();

private:
    std::mutex m_mutex;
    std::deque<WorkerMark> m_marks;
    bool m_ended = false;
    std::optional<WorkerMark> m_last;
};

// What a worker is given beside the plan and its share.
struct WorkerLane {
    // When the run started: --duration counts from here, connecting included.
    std::chrono::steady_clock::time_point runStart;
    std::shared_ptr<const TlsClientContext> tls;
    WorkerMarks *marks = nullptr;
};

// Sends share's part of the plan's run on the thread it runs on: its own
// sockets (one channel), its own random sequence and pace, its own counters,
// which it leaves at each second's mark and at its end for the coordinator
// to add up. say: what it has to tell (a connection refused, a retry), from
// its thread.
RunSummary RunWorker(const LoadPlan &plan, const ThreadShare &share, const WorkerLane &lane,
                     const SendChannel::Say &say);
