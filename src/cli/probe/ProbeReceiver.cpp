#include "cli/probe/ProbeReceiver.h"

#include "cli/recv/ListenerSetup.h"
#include "common/StopFlag.h"
#include "probe/FileFollower.h"
#include "proof/ReceiveLoop.h"

#include <chrono>

namespace {
// How long a turn waits: the longest a step's question waits for an answer.
constexpr int TurnMs = 20;
} // namespace

ProbeReceiver::ProbeReceiver() = default;

ProbeReceiver::~ProbeReceiver()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_source)
        m_source->Finish();
}

Status ProbeReceiver::Start(const ProbeOptions &options)
{
    if (options.recv.stampKey)
        m_intake.RequireKey(*options.recv.stampKey);
    if (options.receive.IsFile()) {
        m_source = std::make_unique<FileFollower>(options.receive.path, m_intake, m_clock);
    } else {
        Result<ListenerSetup> setup = SetUpListener(options.recv, ProbeReceiveNames);
        if (!setup)
            return setup.Outcome();
        m_source = std::make_unique<ReceiveLoop>(setup->settings, m_intake, m_clock, std::move(setup->factory));
    }
    if (Status opened = m_source->Open(); !opened)
        return opened;
    m_where = m_source->Where();
    m_thread = std::thread([this] { Loop(); });
    return {};
}

void ProbeReceiver::Loop()
{
    while (!m_stop) {
        m_source->RunOnce(TurnMs);
        {
            std::lock_guard lock(m_mutex);
            m_messages = m_intake.Counts().messages;
            const auto now = std::chrono::steady_clock::now();
            for (; !m_moments.empty() && m_moments.front() <= now; m_moments.erase(m_moments.begin()))
                m_snapshots.push_back(m_ledger.RunLatency(m_watchedRun));
            if (m_asked) {
                m_figures = m_ledger.RunsFigures(m_askedRuns, m_askedExpect);
                m_counts = m_intake.Counts();
                if (m_askedSnapshot)
                    m_snapshots.push_back(m_ledger.RunLatency(m_watchedRun));
                m_asked = false;
            }
        }
        m_turned.notify_all();
    }
}

void ProbeReceiver::Ask(const std::vector<std::string> &runs, std::uint64_t expect, bool snapshot)
{
    std::unique_lock lock(m_mutex);
    m_askedRuns = runs;
    m_askedExpect = expect;
    m_askedSnapshot = snapshot;
    m_asked = true;
    m_turned.wait(lock, [this] { return !m_asked; });
}

void ProbeReceiver::WaitForQuiet(double quietSeconds)
{
    const auto quiet =
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(quietSeconds));
    std::unique_lock lock(m_mutex);
    auto deadline = std::chrono::steady_clock::now() + quiet;
    std::uint64_t seen = m_messages;
    while (!StopRequested() && std::chrono::steady_clock::now() < deadline) {
        // Each turn wakes this, so a stop signal is seen within one.
        m_turned.wait_until(lock, deadline);
        if (m_messages != seen) {
            seen = m_messages;
            deadline = std::chrono::steady_clock::now() + quiet;
        }
    }
}

DeliveryFigures ProbeReceiver::Figures(const std::vector<std::string> &runs, std::uint64_t expect)
{
    Ask(runs, expect);
    std::lock_guard lock(m_mutex);
    return m_figures;
}

void ProbeReceiver::WatchLatency(const std::string &run, std::vector<Moment> moments)
{
    std::lock_guard lock(m_mutex);
    m_watchedRun = run;
    m_moments = std::move(moments);
    m_snapshots.clear();
}

std::vector<LatencyHistogram<std::uint64_t>> ProbeReceiver::LatencySnapshots()
{
    Ask({m_watchedRun}, 0, true);
    std::lock_guard lock(m_mutex);
    m_moments.clear();
    return std::move(m_snapshots);
}

IntakeCounts ProbeReceiver::Counts()
{
    Ask({});
    std::lock_guard lock(m_mutex);
    return m_counts;
}
