#pragma once

#include "load/SendSeconds.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A message handed over more than this many seconds after its time is late.
inline constexpr double LateSeconds = 0.1;

// What a run did, counted without the window's wrap at 1,000,000.
struct RunSummary {
    std::int64_t sent = 0;
    std::int64_t failed = 0;
    // UDP: datagrams sent that the network sent back as undeliverable
    // (nothing listening on the port, host unreachable); part of sent.
    std::int64_t refused = 0;
    // Stream sessions the target refused to open (nothing listening there).
    std::int64_t refusedConnections = 0;
    // Stream sessions: time spent waiting for room in full sockets; bytes
    // handed over that the target had not taken when sending ended; and
    // bytes still not taken after --drain-timeout.
    double blockedSeconds = 0;
    std::int64_t queuedBytes = 0;
    std::int64_t untakenBytes = 0;
    // Of the sending threads, the largest share of the sending time one spent
    // on a processor or waiting for one (near 1: it never waited for the
    // target, so it set the pace itself), and the largest share one waited.
    double busiestThreadShare = 0;
    double threadWaitShare = 0;
    std::int64_t bytes = 0;
    double elapsedSeconds = 0;
    // With stamps: the run id and each stream's last sequence number, which
    // is how many stamped messages went out on it.
    struct StampedStream {
        std::uint64_t stream = 0;
        std::uint64_t lastSeq = 0;
    };
    std::string runId;
    std::vector<StampedStream> streams;
    // The achieved rate over the run's full seconds.
    RateSpread spread;
    // TCP and TLS: each connection's messages, those of them a broken session
    // left of unknown fate (sent, perhaps not received), and the sessions
    // opened again after one ended.
    struct ConnectionFigures {
        int index = 0;
        std::int64_t sent = 0;
        std::int64_t unknownFate = 0;
        std::int64_t reconnects = 0;
    };
    std::vector<ConnectionFigures> connections;
    // Of the connections, those that were up at some moment.
    std::int64_t connectionsUp = 0;
    std::int64_t unknownFate = 0;
    std::int64_t reconnects = 0;
    // RELP: messages the receiver acknowledged.
    std::optional<std::int64_t> acknowledged;
    // With reconnect: the longest time a connection was down, in seconds.
    double longestOutage = 0;
    // --drop-connections: sessions closed on purpose and opened again.
    std::int64_t drops = 0;
    // --idle-connections: the sessions asked for, those up at some moment,
    // the times one that was up ended, and those up at the end.
    struct IdleFigures {
        std::int64_t asked = 0;
        std::int64_t opened = 0;
        std::int64_t broken = 0;
        std::int64_t openAtEnd = 0;

        IdleFigures &operator+=(const IdleFigures &other)
        {
            asked += other.asked;
            opened += other.opened;
            broken += other.broken;
            openAtEnd += other.openAtEnd;
            return *this;
        }
    };
    IdleFigures idle;
    // Several targets or ports: each one's figures, in the order sent to.
    struct TargetFigures {
        std::string target;
        int port = 0;
        std::int64_t sent = 0;
        std::int64_t failed = 0;
        std::int64_t refused = 0;
        std::int64_t unknownFate = 0;
        std::int64_t reconnects = 0;
        std::int64_t connectionsUp = 0;
        std::int64_t drops = 0;
        std::vector<std::uint64_t> streams;
    };
    std::vector<TargetFigures> targets;
    // Messages handed over well after their time, and (--no-catch-up)
    // messages not sent because their time had passed.
    std::int64_t late = 0;
    std::int64_t skipped = 0;
    // --rate with --duration: messages due before its end that did not go
    // within a moment after it (the sender fell behind).
    std::int64_t durationUnsent = 0;
    // --replay: gaps between lines cut to replayMaxGap seconds, and lines
    // whose time went back (sent at once); of the file, not of a thread.
    std::int64_t replayGapsCut = 0;
    std::int64_t replayWentBack = 0;
    // Joined lines that reached the longest line, the rest sent on their own.
    std::int64_t replayJoinsSplit = 0;
    double replayMaxGap = 0;
    int threads = 1;
    // once, count, duration, steps, end of file (--replay), signal, connection, error
    std::string stoppedBy;
    // Of a TLS session whose handshake succeeded: "TLSv1.3", "TLS_AES_256_GCM_SHA384".
    std::string tlsVersion;
    std::string tlsCipher;
    std::string error;
    int exitStatus = 0;
};

// Messages per second over the run, when the run was long enough for an
// average to mean something: more than one message over at least a second.
std::optional<double> AverageRate(const RunSummary &summary);

// Adds one thread's figures to the run's.
void AddThreadSummary(RunSummary &total, const RunSummary &thread);
