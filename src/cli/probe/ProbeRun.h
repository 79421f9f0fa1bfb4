#pragma once

#include "cli/probe/ProbeCommandLine.h"
#include "probe/ProbeResult.h"
#include "report/ProbeText.h"

#include <ostream>
#include <string>
#include <vector>

// Runs the search as the options say: progress on err, the result on out.
// Needs a QCoreApplication on this thread, which the sender's steps use.
ProbeResult RunProbe(const ProbeOptions &options, std::ostream &err);

// The whole program: flags, help, version, the probe, its output; returns
// the exit status. errIsTerminal: err is a terminal, which shows progress.
int RunProbeCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
                    bool errIsTerminal = false);
