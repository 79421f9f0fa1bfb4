#pragma once

#include "load/RunSummary.h"
#include "load/SendSeconds.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

class PacketStream;

// What a sending worker sends through: datagrams over one socket, or a
// stream of messages over each of one or many sessions. The worker keeps the
// pace and the counts; the channel owns its sockets, opens them, builds each
// batch as its kind of socket takes it, and tells when one broke.
class SendChannel {
public:
    using Clock = std::chrono::steady_clock;
    // Tells the user a line as the run goes (a failure, retried).
    using Say = std::function<void(const std::string &)>;

    enum class Opened { Ready, Failed, Stopped, OutOfTime };
    // Stalled: a session took nothing for too long; BadSource: a line of the
    // message-source file is too long to be a message.
    enum class Handover { Sent, Blocked, Failed, Stalled, BadSource };
    // What one call to Send did: messages handed over of count built, and
    // their bytes.
    struct Handed {
        std::int64_t handed = 0;
        std::int64_t count = 0;
        std::int64_t bytes = 0;
    };

    virtual ~SendChannel() = default;

    // Opens the sockets; a channel of sessions waits until each was tried
    // once, the stop signal, or the deadline.
    virtual Opened Open(Clock::time_point deadline) = 0;
    // Sets up the stream's stamps, if any, before the first message.
    virtual void Begin(PacketStream &stream) = 0;
    // Something to send through now (a session that is up).
    virtual bool Ready() const = 0;
    // How many of the due messages to build into one batch at most.
    virtual std::int64_t BatchOf(std::int64_t due) const = 0;
    // Builds up to count messages from the stream and hands them over,
    // waiting for room at most waitLimit. Blocked: nothing went for now and
    // the same messages go when asked again; Failed: not one could go.
    virtual Handover Send(PacketStream &stream, std::int64_t count, std::chrono::milliseconds waitLimit,
                          Handed &handed) = 0;
    // A batch waits for room; it was due when it was built.
    virtual bool Holding() const = 0;
    // A batch still waiting for room never went.
    virtual void Abandon(PacketStream &stream) = 0;
    // Notes what the sockets' events said; empty, or why the run is over.
    virtual std::string Tend() = 0;
    // Waits for the sockets' events until the deadline at most.
    virtual void Wait(Clock::time_point until) = 0;
    // Why the channel could not open, or why a batch failed; empty when it did not.
    virtual std::string Failure() const = 0;
    // Why a batch of which nothing went failed, when Tend has nothing to say.
    virtual std::string NothingSentText() const = 0;
    // Counters of the sockets: connections, unknown fate, blocked time.
    virtual void Count(SendCounters &counters) const = 0;
    // What was accepted is given until the deadline; empty, or why not all went.
    virtual std::string Finish(RunSummary &summary, Clock::time_point deadline) = 0;
    // Each stamped stream's last number.
    virtual void Stamps(RunSummary &summary, const PacketStream &stream) const = 0;
    // Each connection's figures and the TLS session's, after a failure too;
    // empty, or why the run failed when nothing ever came up.
    virtual std::string Collect(RunSummary &summary) const = 0;
    virtual void Close(Clock::time_point deadline) = 0;
};

// A limit in seconds as the sockets take it: whole milliseconds, rounded up.
inline std::chrono::milliseconds MillisecondsOf(double seconds)
{
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(std::max(seconds, 0.0) * 1000)));
}
