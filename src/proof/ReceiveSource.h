#pragma once

#include "common/Status.h"
#include "transport/FrameSplitter.h"

#include <array>
#include <cstdint>
#include <string>

// What a receive source counted over its life. A file has frames only;
// the rest are a listener's connections and sessions.
struct ReceiveCounts {
    std::uint64_t connections = 0;
    std::uint64_t refused = 0;
    std::uint64_t open = 0;
    // Sessions whose handshake finished, and those dropped before: failed,
    // cut by the client, or timed out (also counted in handshakeTimeouts).
    std::uint64_t handshakes = 0;
    std::uint64_t failedHandshakes = 0;
    std::uint64_t handshakeTimeouts = 0;
    std::string lastHandshakeFailure;
    // Sessions dropped after their handshake for what they sent (a broken
    // TLS record), with the last reason.
    std::uint64_t droppedSessions = 0;
    std::string lastDropReason;
    // Connections closed for sending nothing for the idle timeout, for being
    // the one idle longest when a new one came at the limit, and for
    // holding the most when the held parts of messages reached their cap.
    std::uint64_t idleClosed = 0;
    std::uint64_t idleEvicted = 0;
    std::uint64_t bufferDrops = 0;
    // RELP: messages whose answers were handed to the system (after the
    // messages themselves), and sessions no longer read for a while
    // because their client did not take its answers.
    std::uint64_t acknowledged = 0;
    std::uint64_t pausedSessions = 0;
    std::uint64_t emptyDatagrams = 0;
    // Plain TCP connections that opened with a TLS handshake: closed, their
    // bytes never taken for messages.
    std::uint64_t tlsOnPlainPort = 0;
    // With proxy: connections whose PROXY header was read, and those closed
    // for a missing or malformed one, with the last reason.
    std::uint64_t proxyHeaders = 0;
    std::uint64_t proxyRefused = 0;
    std::string lastProxyFailure;
    // Connections by the framing they used, indexed by Framing (Auto: not
    // shown before they ended).
    std::array<std::uint64_t, FramingNames.size()> framings{};
    // Frames of every connection, closed and open; datagrams cut short by
    // the buffer count as oversize.
    FrameCounts frames;
};

// Where a receiver reads from: a listener (UDP, TCP, TLS, RELP, Unix
// sockets) or a file that grows. Each turn hands what arrived to the
// intake it was made with. quillon-recv and the probe's receiver drive it
// alike.
class ReceiveSource {
public:
    virtual ~ReceiveSource() = default;
    virtual Status Open() = 0;
    // "tcp 0.0.0.0:5514", "file /var/log/probe.log"
    virtual std::string Where() const = 0;
    // Waits at most timeoutMs for something to read and takes it.
    virtual void RunOnce(int timeoutMs) = 0;
    // Hands on a message still waiting for its end; a listener first reads
    // what its peers still send, then ends their connections.
    virtual void Finish() = 0;
    virtual ReceiveCounts Counts() const = 0;
};
