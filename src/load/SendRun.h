#pragma once

#include "load/RunSummary.h"
#include "load/SendOptions.h"
#include "load/SendSeconds.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class TlsClientContext;

// The workers' counters added up at one of the run's second marks.
struct SendTick {
    // Since the run started, connecting included.
    double elapsed = 0;
    const SendCounters &total;
    // Since the previous tick; none when no time passed.
    std::optional<SendSecond> record;
    // After the last full second: up to the end of the last worker to end.
    bool last = false;
};

// Where a run's figures go as it sends (a progress line, a stats file,
// metrics): the run formats nothing itself.
class SendSink {
public:
    virtual ~SendSink() = default;
    // Before any worker starts.
    virtual void Start() {}
    virtual void Tick(const SendTick &) {}
    // A line to tell the user (a connection refused, retried), one at a time.
    virtual void Say(const std::string &) {}
    // Why the sink failed, once the run ended (a stats file that could not
    // be written); the run fails with it.
    virtual std::string Failure() const { return {}; }
};

// Sends the run options describe: each thread's share on a thread of its
// own, their counters added up each second into the sinks, and at the end
// into the summary. tls: the context every TLS session shares, made once
// for as many runs. Needs a QCoreApplication on this thread, whose event
// loop delivers the sockets' events.
RunSummary RunLoad(const Options &options, std::shared_ptr<const TlsClientContext> tls,
                   const std::vector<SendSink *> &sinks);
