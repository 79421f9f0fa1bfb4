#pragma once

#include <ostream>
#include <string>
#include <vector>

// The whole command: flags, saved settings, help and version, the run.
// Returns the exit status: 0 all sent, 1 sending failed, 2 usage error.
int RunSendCommand(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
