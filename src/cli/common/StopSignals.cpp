#include "cli/common/StopSignals.h"

#include <pthread.h>

#include <csignal>
#include <cstdlib>
#include <initializer_list>

namespace {
sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // A closed terminal or a supervisor's reload: the run still reports.
    sigaddset(&set, SIGHUP);
    return set;
}

// The second signal ends the program as the signal would have.
[[noreturn]] void EndBy(int number)
{
    std::signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    std::raise(number);
    std::_Exit(128 + number);
}

volatile std::sig_atomic_t g_signalled = 0;

extern "C" void OnStopSignal(int number)
{
    if (g_signalled != 0)
        EndBy(number);
    g_signalled = 1;
    RequestStop();
}

void *WaitForStops(void *)
{
    const sigset_t stops = StopSet();
    for (;;) {
        int number = 0;
        if (sigwait(&stops, &number) == 0)
            OnStopSignal(number);
    }
}
} // namespace

void InstallStopSignals()
{
    // Taken by one thread with sigwait rather than by a handler: a thread
    // sanitizer defers handlers, and once lost a first signal for good.
    const sigset_t stops = StopSet();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t waiter;
    const int started = pthread_create(&waiter, &attributes, WaitForStops, nullptr);
    pthread_attr_destroy(&attributes);
    if (started == 0)
        return;
    // No thread to spare: a handler does the same.
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}
