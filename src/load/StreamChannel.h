#pragma once

#include "load/ConnectionSet.h"
#include "load/SendChannel.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Messages back to back over one or many TCP or TLS sessions, a batch in one
// write to the next session in turn, built with that session's stamps.
class StreamChannel : public SendChannel {
public:
    // runStart: when the run began, as the failure of one whose sessions
    // never came up says.
    StreamChannel(ConnectionPlan plan, Clock::time_point runStart, Say say);

    Opened Open(Clock::time_point deadline) override;
    void Begin(PacketStream &) override {}
    bool Ready() const override { return m_set.Up() > 0; }
    // Spread over the sessions when few are due.
    std::int64_t BatchOf(std::int64_t due) const override
    {
        return std::max<std::int64_t>(1, due / std::max(1, m_set.Up()));
    }
    Handover Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                  Handed &handed) override;
    bool Holding() const override { return m_waiting != nullptr; }
    void Abandon(PacketStream &stream) override;
    std::string Tend() override;
    void Wait(Clock::time_point until) override { m_set.Await(until); }
    std::string Failure() const override { return m_failure; }
    std::string NothingSentText() const override;
    void Count(SendCounters &counters) const override;
    std::string Finish(RunSummary &summary, Clock::time_point deadline) override;
    void Stamps(RunSummary &summary, const PacketStream &stream) const override;
    std::string Collect(RunSummary &summary) const override;
    void Close(Clock::time_point deadline) override;

private:
    void TellRetries();
    bool IdleSettled() const { return !m_idle || m_idle->Settled(); }

    std::string m_targetText;
    std::string m_sessionWord;
    Clock::time_point m_runStart;
    Say m_say;
    ConnectionSet m_set;
    // --idle-connections: held open beside m_set, never sent to.
    std::unique_ptr<ConnectionSet> m_idle;
    double m_dropChance;
    std::chrono::milliseconds m_dropFlushLimit;
    std::string m_failure;
    // The session whose batch waits for room in its socket, and since when.
    ConnectionSet::Connection *m_waiting = nullptr;
    std::optional<Clock::time_point> m_blockedSince;
    // Where batches are made, and the one at its start.
    std::string m_bytes;
    std::string_view m_batch;
    std::vector<std::uint32_t> m_sizes;
};
