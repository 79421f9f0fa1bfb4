#include "send/Statistics.h"

#include "window/Quillon.h"

Statistics::Statistics(Quillon &window) : w(window) {}

void Statistics::StatsUpdate_Timer() {}

void Statistics::UpdateClock_Timer() {}

void Statistics::CmdReset_Click() {}
