#include "cli/common/StopSignals.h"

#include <csignal>

namespace {
volatile std::sig_atomic_t g_signalled = 0;

extern "C" void OnStopSignal(int number)
{
    // The second ends the program as the signal would have. Done here, not
    // by SA_RESETHAND: under a thread sanitizer a first signal that arrives
    // between its hooks with that flag set was lost, and the run never stopped.
    if (g_signalled != 0) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    g_signalled = 1;
    RequestStop();
}
} // namespace

void InstallStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or a supervisor's reload: the run still reports.
    sigaction(SIGHUP, &action, nullptr);
}
