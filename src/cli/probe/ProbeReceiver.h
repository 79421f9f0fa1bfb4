#pragma once

#include "cli/probe/ProbeCommandLine.h"
#include "cli/probe/ReceiveSource.h"
#include "cli/recv/DeliveryLedger.h"
#include "cli/recv/MessageIntake.h"
#include "common/Clock.h"

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

    // Opens where the options say and starts taking; false with error.
    [[nodiscard]] bool Start(const ProbeOptions &options, std::string &error);
    std::string Where() const { return m_where; }
    // Returns once quietSeconds pass without a new message, or a stop is
    // asked for.
    void WaitForQuiet(double quietSeconds);
    // What arrived of one run so far, or of several together.
    DeliveryFigures Figures(const std::string &run) { return Figures(std::vector<std::string>{run}); }
    DeliveryFigures Figures(const std::vector<std::string> &runs);
    IntakeCounts Counts();

private:
    void Loop();
    void Ask(const std::vector<std::string> &runs);

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
    DeliveryFigures m_figures;
    IntakeCounts m_counts;
};
