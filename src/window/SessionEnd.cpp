#include "window/SessionEnd.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace {
// The write end of the pipe the handler wakes the window's thread through:
// all a handler may safely do is write.
std::atomic<int> g_wakeWrite{-1};
std::atomic<int> g_signals{0};

extern "C" void OnSessionEnd(int signal)
{
    // A second one ends the program as the signal would, whatever the
    // window is doing.
    if (g_signals.fetch_add(1) > 0) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t wrote = ::write(g_wakeWrite.load(), &byte, 1);
    errno = saved;
}
} // namespace

void CloseOnSessionEnd(QWidget &window)
{
    std::array<int, 2> wake{};
    if (::pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(wake[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, read = wake[0]] {
        std::array<char, 16> bytes;
        while (::read(read, bytes.data(), bytes.size()) > 0) {
        }
        window.close();
        // A dialog open runs an event loop of its own: every loop ends.
        QCoreApplication::quit();
    });
    g_wakeWrite.store(wake[1]);
    struct sigaction action {};
    action.sa_handler = OnSessionEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
