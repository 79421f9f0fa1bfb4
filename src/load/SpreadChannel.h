#pragma once

#include "load/SendChannel.h"
#include "load/SendOptions.h"

#include <memory>
#include <string>
#include <vector>

// Several targets and ports, a channel to each. Each batch goes to the one
// that has taken the fewest messages, sized to bring it to its even share
// of what is due, so a run's messages are dealt evenly in turn, a batch of
// many as exactly as one at a time. Each one's figures are kept apart for
// the summary.
class SpreadChannel : public SendChannel {
public:
    struct Part {
        Destination destination;
        std::unique_ptr<SendChannel> channel;
    };

    explicit SpreadChannel(std::vector<Part> parts);

    Opened Open(Clock::time_point deadline) override;
    void Begin(PacketStream &stream) override;
    bool Ready() const override;
    std::int64_t BatchOf(std::int64_t due) const override;
    Handover Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                  Handed &handed) override;
    bool Holding() const override { return m_holding; }
    void Abandon(PacketStream &stream) override;
    std::string Tend() override;
    void Wait(Clock::time_point until) override;
    std::string Failure() const override;
    std::string NothingSentText() const override;
    void Count(SendCounters &counters) const override;
    std::string Finish(RunSummary &summary, Clock::time_point deadline) override;
    void Stamps(RunSummary &summary, const PacketStream &stream) const override;
    std::string Collect(RunSummary &summary) const override;
    void Close(Clock::time_point deadline) override;

private:
    SendChannel &Current() const { return *m_parts[m_current].channel; }
    // The part the next batch goes to: the one holding a batch, else the
    // ready one with the fewest messages; m_parts.size() when none is ready.
    std::size_t NextPart() const;
    std::int64_t Attempted(std::size_t part) const { return m_figures[part].sent + m_figures[part].failed; }

    std::vector<Part> m_parts;
    // Each part's figures, in the order of m_parts.
    std::vector<RunSummary::TargetFigures> m_figures;
    // Each part's stamped streams, noted as the run's are read.
    mutable std::vector<std::vector<std::uint64_t>> m_streams;
    std::size_t m_current = 0;
    // The current part holds a batch that waits for room: it goes there again.
    bool m_holding = false;
    std::string m_failure;
};
