#pragma once

#include <ostream>
#include <string>
#include <vector>

// The whole command: flags, saved settings, help and version, the run.
// outIsTerminal: out is a terminal, which echoes a Ctrl-C; errIsTerminal:
// err is one, which shows the progress. Returns the exit status: 0 all
// sent, 1 sending failed or datagrams refused, 2 usage error.
int RunSendCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
                   bool outIsTerminal = false, bool errIsTerminal = false);
