#pragma once

#include "cli/recv/RecvCommandLine.h"
#include "metrics/MetricsSink.h"
#include "report/RecvReport.h"

#include <ostream>
#include <string>
#include <vector>

// Listens (or reads --check-file) until a stop condition, prints the
// listening line, the progress and the summary, and returns what it saw.
// metrics: where the figures of each second and the end go besides;
// warnings: told on err after the listening line.
RecvSummary RunReceiver(const RecvOptions &options, std::ostream &out, std::ostream &err,
                        MetricsSink *metrics = nullptr, const std::vector<std::string> &warnings = {});

// The whole program: flags, help, version, run; returns the exit status.
// errIsTerminal: err is a terminal, which shows the progress.
int RunRecvCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
                   bool errIsTerminal = false);
