#pragma once

#include "engine/MessageStamper.h"
#include "load/UnknownFate.h"
#include "transport/ProxySources.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QEventLoop;
class SocketEndpoint;
class TlsClientContext;

struct ConnectionPlan {
    std::string host;
    int port = 0;
    int sourcePort = 0; // 0: the system picks
    // Non-empty: Unix stream sessions to this path instead of host and port.
    std::string socketPath;
    // Null: plain TCP.
    std::shared_ptr<const TlsClientContext> tls;
    bool reconnect = false;
    // Each connect and handshake's limit; with reconnect also how long the
    // set may go without any session up before it gives up.
    std::chrono::milliseconds openingLimit{10000};
    int count = 1;
    // The run's number of the first one: its stamps are stream firstIndex + 1.
    int firstIndex = 0;
    std::uint64_t shard = 0;
    // Empty: the messages are not stamped.
    std::string runId;
    std::optional<StampKey> stampKey;
    // For messages: "HOST:PORT" and "TCP" or "TLS".
    std::string targetText;
    std::string sessionWord;
    // Idle sessions, held without sending: one that fails is counted and
    // left (opened again with reconnect), and never ends the run.
    bool idle = false;
    // Of the sending channel: idle sessions beside these, and the chance of
    // a drop after each batch, whose bytes get dropFlushLimit to go.
    int idleCount = 0;
    double dropChance = 0;
    std::chrono::milliseconds dropFlushLimit{2000};
    // 1 or 2: each session, reconnects too, opens with a PROXY header of
    // that version claiming the next of proxySources; 0: none.
    int proxyVersion = 0;
    std::optional<ProxySources> proxySources;
};

// The TCP or TLS sessions of one sending thread to one target, each its own
// stamp stream: opened a few at a time, used in turn, and with reconnect
// opened again after the peer ended or refused them, waiting a little longer
// after each failure, each failure told in a line of at most one a second.
// What a broken session's peer never acknowledged is counted as messages of
// unknown fate. The sessions' events (up, ended, failed) and the moments an
// attempt is due drive it: nothing is looked at in between.
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
        // Since the session failed, until one is up again.
        std::optional<Clock::time_point> downSince;
        int failures = 0;
        Clock::time_point since;
        std::size_t trimAt = 0;
        std::int64_t sent = 0;
        std::int64_t unknownFate = 0;
        std::int64_t reconnects = 0;
        // Closed on purpose and opened again (--drop-connections); dropped:
        // its next coming up is no reconnect.
        std::int64_t drops = 0;
        bool dropped = false;
        int lastErrorNumber = 0;
        std::string lastError;
    };

    explicit ConnectionSet(ConnectionPlan plan);
    ~ConnectionSet();
    // The sessions' events are tied to where it is.
    ConnectionSet(const ConnectionSet &) = delete;
    ConnectionSet &operator=(const ConnectionSet &) = delete;

    // Notes sessions that came up or ended and starts the attempts that are
    // due; nothing to do unless an event came or an attempt fell due.
    void Tend();
    // Runs the event loop until a session's event, the next moment an
    // attempt is due, or until, whichever comes first.
    void Await(Clock::time_point until);
    // Every connection's first attempt is over.
    bool Settled() const;
    int Up() const { return m_up; }
    // The next session in turn that is up, or null.
    Connection *NextUp();
    // Hands a batch of messages (their sizes in order) to c's session,
    // waiting for room at most waitLimit; how many count as sent. None while
    // c is still up: its socket is full. With reconnect a session that fails
    // meanwhile takes the batch, whose messages then are of unknown fate.
    std::size_t Send(Connection &c, std::string_view bytes, const std::vector<std::uint32_t> &sizes,
                     std::chrono::milliseconds waitLimit);
    // Closes c's session, what it holds given flushLimit to go, and opens
    // it again at the next Tend; its stamps go on.
    void Drop(Connection &c, std::chrono::milliseconds flushLimit);
    // Empty, or why the run must end: a session failed without reconnect.
    const std::string &Failure() const { return m_failure; }
    // Waits until the deadline at most for what the sessions still hold to
    // go; empty or why not.
    [[nodiscard]] std::string FlushAll(Clock::time_point deadline);
    // At the end, after the drain: the messages the sessions that are up
    // still hold, which their peers' systems never acknowledged, become of
    // unknown fate and are no longer counted sent. How many they were.
    std::int64_t TakeBackUnacknowledged();
    // Gives what the sessions hold until the deadline at most, then closes them.
    void CloseAll(Clock::time_point deadline);
    // With reconnect: a line about the failures since the last one, at most
    // one a second; empty when none is due.
    std::string TakeRetryLine();

    const std::vector<std::unique_ptr<Connection>> &All() const { return m_connections; }
    std::int64_t UnknownFateTotal() const;
    std::int64_t ReconnectsTotal() const;
    std::int64_t DropsTotal() const;
    // The times a session that was up ended; of sets never dropped (idle ones).
    std::int64_t BrokenTotal() const;
    // Connections that were up at some moment.
    std::int64_t EverUp() const;
    // The longest time a connection was down after a failure, until now for
    // one still down.
    std::chrono::duration<double> LongestOutage() const;
    // Why the latest attempt or session failed; empty when none did.
    const std::string &LastFailure() const { return m_lastFailure; }
    // Spent waiting inside sends for room in a full socket, over all sessions.
    std::chrono::nanoseconds BlockedTime() const;
    // Bytes the sessions that are up were handed and their peers have not
    // acknowledged, and of them those not yet given to the system.
    std::int64_t QueuedBytes() const;
    // Not yet acknowledged by the peers of the sessions that are up.
    std::int64_t UntakenBytes() const;
    // Attempts the target refused: nothing listens there.
    std::int64_t RefusedTotal() const { return m_refused; }
    const std::string &TlsVersion() const { return m_tlsVersion; }
    const std::string &TlsCipher() const { return m_tlsCipher; }

private:
    void Start(Connection &c, Clock::time_point now);
    void Came();
    void NoteDue(Clock::time_point now);
    void Ended(Connection &c, Clock::time_point now);
    std::string EndText(const Connection &c, bool connecting) const;

    ConnectionPlan m_plan;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::size_t m_next = 0;
    int m_up = 0;
    int m_opening = 0;
    std::string m_failure;
    // When a session was last seen up (at first: when the set was made).
    Clock::time_point m_lastUp = Clock::now();
    Clock::duration m_longestOutage{};
    std::string m_lastFailure;
    std::int64_t m_refused = 0;
    // Failures not yet told, the latest one's line, and when a line was last given.
    int m_untold = 0;
    std::string m_retryText;
    std::optional<Clock::time_point> m_lastTold;
    std::string m_tlsVersion;
    std::string m_tlsCipher;
    // An event came since the last Tend; when the next attempt or limit is due.
    bool m_changed = true;
    Clock::time_point m_due = Clock::time_point::max();
    QEventLoop *m_waiter = nullptr;
};
