#pragma once

#include "engine/MessageStamper.h"
#include "load/SendChannel.h"
#include "transport/RelpEndpoint.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct RelpPlan {
    RelpClientSettings client;
    bool reconnect = false;
    // With reconnect, how long the sessions may all be down before the run fails.
    std::chrono::milliseconds downLimit{10000};
    int count = 1;
    // The run's number of the first session: its stamps are stream firstIndex + 1.
    int firstIndex = 0;
    std::uint64_t shard = 0;
    // Empty: the messages are not stamped.
    std::string runId;
    std::optional<StampKey> stampKey;
};

// Messages over one or many RELP sessions, a batch to the next session in
// turn, each message a syslog command the receiver acknowledges. librelp
// blocks while a session's window is full, so a batch goes whole or up to
// the message at which its session broke. A broken session's messages still
// unacknowledged are of unknown fate; with reconnect a new session takes
// over after a back-off, its stream going on.
class RelpChannel : public SendChannel {
public:
    RelpChannel(RelpPlan plan, Say say);

    Opened Open(Clock::time_point deadline) override;
    void Begin(PacketStream &) override {}
    bool Ready() const override;
    std::int64_t BatchOf(std::int64_t due) const override;
    Handover Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                  Handed &handed) override;
    bool Holding() const override { return false; }
    void Abandon(PacketStream &) override {}
    std::string Tend() override;
    void Wait(Clock::time_point until) override;
    std::string Failure() const override { return m_failure; }
    std::string NothingSentText() const override;
    void Count(SendCounters &counters) const override;
    std::string Finish(RunSummary &summary, Clock::time_point deadline) override;
    void Stamps(RunSummary &summary, const PacketStream &stream) const override;
    std::string Collect(RunSummary &summary) const override;
    void Close(Clock::time_point deadline) override;

private:
    struct Session {
        int index = 0;
        std::unique_ptr<RelpEndpoint> endpoint;
        std::optional<MessageStamper> stamper;
        bool everUp = false;
        int failures = 0;
        // When a session that broke or was refused may be tried again.
        std::optional<Clock::time_point> retryAt;
        std::optional<Clock::time_point> downSince;
        std::int64_t sent = 0;
        std::int64_t unknownFate = 0;
        std::int64_t reconnects = 0;
    };

    bool Connect(Session &session, Clock::time_point now);
    void Broke(Session &session, Clock::time_point now);
    std::string TargetText() const;
    int UpCount() const;

    RelpPlan m_plan;
    Say m_say;
    std::vector<Session> m_sessions;
    std::size_t m_next = 0;
    std::string m_failure;
    std::string m_lastFailure;
    Clock::time_point m_lastUp = Clock::now();
    Clock::duration m_longestOutage{};
    std::optional<Clock::time_point> m_lastTold;
    int m_untold = 0;
    std::vector<std::uint32_t> m_sizes;
    std::string m_bytes;
};
