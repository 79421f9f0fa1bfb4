#pragma once

#include "cli/send/UnknownFate.h"
#include "engine/MessageStamper.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SocketEndpoint;
class TlsClientContext;

struct ConnectionPlan {
    std::string host;
    int port = 0;
    int sourcePort = 0; // 0: the system picks
    // Null: plain TCP.
    std::shared_ptr<const TlsClientContext> tls;
    bool reconnect = false;
    int count = 1;
    // The run's number of the first one: its stamps are stream firstIndex + 1.
    int firstIndex = 0;
    std::uint64_t shard = 0;
    // Empty: the messages are not stamped.
    std::string runId;
    // For messages: "HOST:PORT" and "TCP" or "TLS".
    std::string targetText;
    std::string sessionWord;
};

// The TCP or TLS sessions of one sending thread to one target, each its own
// stamp stream: opened a few at a time, used in turn, and with reconnect
// opened again after the peer ended or refused them, waiting a little longer
// after each failure. What a broken session's peer never acknowledged is
// counted as messages of unknown fate.
class ConnectionSet {
public:
    using Clock = std::chrono::steady_clock;

    struct Connection {
        enum class Phase { ToOpen, Opening, Up, Waiting, Over };
        int index = 0;
        std::unique_ptr<SocketEndpoint> endpoint;
        std::optional<MessageStamper> stamper;
        UnknownFate fate;
        Phase phase = Phase::ToOpen;
        bool tried = false;
        bool everUp = false;
        int failures = 0;
        Clock::time_point since;
        std::size_t trimAt = 0;
        std::int64_t sent = 0;
        std::int64_t unknownFate = 0;
        std::int64_t reconnects = 0;
        int lastErrorNumber = 0;
        std::string lastError;
    };

    explicit ConnectionSet(ConnectionPlan plan);
    ~ConnectionSet();

    // Notes sessions that came up or ended and starts the attempts that are due.
    void Tend();
    // Every connection's first attempt is over.
    bool Settled() const;
    int Up() const { return m_up; }
    // The next session in turn that is up, or null.
    Connection *NextUp();
    // Hands a batch of messages (their sizes in order) to c's session; how
    // many count as sent. With reconnect a session that fails meanwhile
    // takes the batch, whose messages then are of unknown fate.
    std::size_t Send(Connection &c, std::string_view bytes, const std::vector<std::uint32_t> &sizes);
    // Empty, or why the run must end: a session failed without reconnect.
    const std::string &Failure() const { return m_failure; }
    // Waits for what the sessions still hold to go; empty or why not.
    [[nodiscard]] std::string FlushAll(int timeoutMs);
    void CloseAll();

    const std::vector<std::unique_ptr<Connection>> &All() const { return m_connections; }
    std::int64_t UnknownFateTotal() const;
    std::int64_t ReconnectsTotal() const;
    // Spent waiting inside sends for room in a full socket, over all sessions.
    std::chrono::nanoseconds BlockedTime() const;
    const std::string &TlsVersion() const { return m_tlsVersion; }
    const std::string &TlsCipher() const { return m_tlsCipher; }

private:
    void Start(Connection &c, Clock::time_point now);
    void Ended(Connection &c, Clock::time_point now);
    std::string EndText(const Connection &c, bool connecting) const;

    ConnectionPlan m_plan;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::size_t m_next = 0;
    int m_up = 0;
    int m_opening = 0;
    std::string m_failure;
    std::string m_tlsVersion;
    std::string m_tlsCipher;
};
