#include "cli/common/StopSignals.h"

#include <csignal>

namespace {
extern "C" void OnStopSignal(int)
{
    RequestStop();
}
} // namespace

void InstallStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // One-shot: the default action is back for a second signal.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or a supervisor's reload: the run still reports.
    sigaction(SIGHUP, &action, nullptr);
}
