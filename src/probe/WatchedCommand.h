#pragma once

#include "common/Status.h"
#include "probe/Leftovers.h"
#include "transport/TransportKind.h"

#include <QProcess>

#include <string>
#include <vector>

// What the probe watches once the command's collector is up, or why it
// cannot.
struct CollectorUp {
    std::vector<int> pids;
    std::string error;
    // The command ended but left the collector running (a daemon that
    // forked twice): what is watched instead, in words, and which.
    std::string detachedNote;
    std::vector<int> detachedPids;
};

// The collector started by --watch-command: sh -c 'exec CMD', so the
// process watched is the collector itself, in a process group of its own
// so that what it starts is stopped with it. It is killed when the probe
// dies, and the probe adopts what it leaves behind (a child subreaper), so
// a daemon that detaches is still found and stopped at the end. A probe
// killed outright leaves a record (Leftovers) by which a later run ends
// what the kernel did not.
class WatchedCommand {
public:
    WatchedCommand() = default;
    ~WatchedCommand();
    WatchedCommand(const WatchedCommand &) = delete;
    WatchedCommand &operator=(const WatchedCommand &) = delete;

    Status Start(const std::string &command);
    int Pid() const { return m_pid; }
    // Started and not stopped yet, though it may have ended.
    bool Started() const { return m_started; }
    bool Running() const;
    // Waits until a socket is bound to the port (a TCP one listening), at
    // most timeoutSeconds, and says what to watch: the command, and the
    // process on the port when that is another. A command that ends first
    // and leaves nothing running is reported at once.
    CollectorUp AwaitPort(int port, TransportKind transport, double timeoutSeconds);
    // SIGTERM to the group and to all the command left running, then
    // SIGKILL to what has not ended within graceSeconds. Returns how it
    // ended: "exited with status N", "ended by a signal", "killed after 5 s".
    std::string Stop(double graceSeconds = 5);
    // Writes down what runs now, for a later run should this one be killed.
    void Note();
    const Leftovers &Record() const { return m_leftovers; }

private:
    CollectorUp Found(int port, TransportKind transport);
    std::string Ending();
    // The processes descending from the probe that have not ended.
    std::vector<int> LeftRunning() const;
    void Signal(int signal) const;
    // Until the command and all it left have ended, or the deadline.
    bool AwaitEnd(double seconds);

    Leftovers m_leftovers;
    QProcess m_process;
    std::string m_command;
    int m_pid = 0;
    int m_pidFd = -1;
    bool m_started = false;
    std::vector<std::pair<int, std::string>> m_followed;
};
