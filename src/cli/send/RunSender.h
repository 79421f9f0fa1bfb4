#pragma once

#include "cli/send/CommandLine.h"
#include "load/RunSummary.h"
#include "metrics/MetricsSink.h"

#include <ostream>

// Sends as the options say: a progress line each second and the summary on
// out, failures on err. outIsTerminal: out is a terminal, which echoes a
// Ctrl-C. progress: where the progress lines go when not err. Needs a
// QCoreApplication on this thread, whose event loop delivers the TCP
// connection and the socket events.
// metrics: where each second's figures and the end's go besides.
RunSummary RunSender(const Options &options, std::ostream &out, std::ostream &err, bool outIsTerminal = false,
                     std::ostream *progress = nullptr, MetricsSink *metrics = nullptr);
