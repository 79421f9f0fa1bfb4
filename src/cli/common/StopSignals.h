#pragma once

#include "common/StopFlag.h"

// Ctrl-C (SIGINT), SIGTERM and SIGHUP ask a run to stop so it can still report what
// it sent; a second signal ends the program at once. Called first in main: the
// signals are blocked in every thread started after it and taken by one of
// its own.
void InstallStopSignals();
