#pragma once

#include "cli/probe/ProbeCommandLine.h"
#include "common/Clock.h"
#include "proof/DeliveryLedger.h"
#include "proof/MessageIntake.h"
#include "proof/ReceiveSource.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The probe's receiver: quillon-recv's listener (or a followed file) on a
// thread of its own, for the whole probe, so it takes what the collector
// delivers while a step sends. Each step asks for its own run's figures.
class ProbeReceiver {
public:
    ProbeReceiver();
    ~ProbeReceiver();
    ProbeReceiver(const ProbeReceiver &) = delete;
    ProbeReceiver &operator=(const ProbeReceiver &) = delete;

    // Opens where the options say and starts taking.
    Status Start(const ProbeOptions &options);
    std::string Where() const { return m_where; }
    // Returns once quietSeconds pass without a new message, or a stop is
    // asked for.
    void WaitForQuiet(double quietSeconds);
    // What arrived of one run so far, or of several together; expect: the
    // messages they sent.
    DeliveryFigures Figures(const std::string &run, std::uint64_t expect = 0)
    {
        return Figures(std::vector<std::string>{run}, expect);
    }
    DeliveryFigures Figures(const std::vector<std::string> &runs, std::uint64_t expect = 0);
    IntakeCounts Counts();

    using Moment = std::chrono::steady_clock::time_point;
    // Keeps the run's latencies as they stand at each moment, in order.
    void WatchLatency(const std::string &run, std::vector<Moment> moments);
    // Those kept, then the latencies now.
    std::vector<LatencyHistogram<std::uint64_t>> LatencySnapshots();

private:
    void Loop();
    void Ask(const std::vector<std::string> &runs, std::uint64_t expect = 0, bool snapshot = false);

    SystemClock m_clock;
    DeliveryLedger m_ledger;
    MessageIntake m_intake{m_ledger};
    std::unique_ptr<ReceiveSource> m_source;
    std::string m_where;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    // Only the receiving thread touches the ledger and the intake; between
    // its turns it answers a question asked here and says what arrived.
    std::mutex m_mutex;
    std::condition_variable m_turned;
    std::uint64_t m_messages = 0;
    bool m_asked = false;
    std::vector<std::string> m_askedRuns;
    std::uint64_t m_askedExpect = 0;
    bool m_askedSnapshot = false;
    DeliveryFigures m_figures;
    IntakeCounts m_counts;
    std::string m_watchedRun;
    std::vector<Moment> m_moments;
    std::vector<LatencyHistogram<std::uint64_t>> m_snapshots;
};
