#include "send/SendScheduler.h"

#include "window/Quillon.h"

SendScheduler::SendScheduler(Quillon &window) : w(window) {}

void SendScheduler::CmdSend_Click() {}

void SendScheduler::tmrSend_Timer() {}

void SendScheduler::Timer2_Timer() {}
