#pragma once

#include "common/StopFlag.h"

// Ctrl-C (SIGINT), SIGTERM and SIGHUP ask a run to stop so it can still report what
// it sent; a second signal ends the program at once.
void InstallStopSignals();
