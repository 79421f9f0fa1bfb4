#pragma once

#include "cli/send/CommandLine.h"
#include "load/RunSummary.h"
#include "load/SendChannel.h"
#include "metrics/MetricsSink.h"

#include <memory>
#include <ostream>

class TlsClientContext;

// What runs of the same options need before they send, read and checked
// once for them all.
struct PreparedSend {
    // With the contents of the files they name and a run id.
    Options options;
    // Shared by every TLS session of every run.
    std::shared_ptr<const TlsClientContext> tls;
    // Why no run can start, its exit status 2; exit status 0 when one can.
    RunSummary failure;
    bool Ready() const { return failure.exitStatus == 0; }
};

// Reads the files the options name, makes room for their connections and
// sets up TLS, each failure in the words of quillon-send's flags; say: what
// is worth telling about them (TLS without verification).
PreparedSend PrepareSend(const Options &options, const SendChannel::Say &say);

// Sends as the options say: a progress line each second and failures on
// err, the summary on out. outIsTerminal: out is a terminal, which echoes a
// Ctrl-C. Needs a QCoreApplication on this thread, whose event loop delivers
// the TCP connection and the socket events.
// metrics: where each second's figures and the end's go besides.
RunSummary RunSender(const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal = false,
                     MetricsSink *metrics = nullptr);

// A line of quillon-send's about the run, on err.
void SayLine(std::ostream &err, const std::string &line);
