#pragma once

#include <QProcess>

#include <string>

// The collector started by --watch-command: sh -c 'exec CMD', so the
// process watched is the collector itself, in a process group of its own
// so that what it starts is stopped with it.
class WatchedCommand {
public:
    WatchedCommand() = default;
    ~WatchedCommand();
    WatchedCommand(const WatchedCommand &) = delete;
    WatchedCommand &operator=(const WatchedCommand &) = delete;

    // False with the reason in error.
    [[nodiscard]] bool Start(const std::string &command, std::string &error);
    int Pid() const;
    bool Running() const;
    // SIGTERM to the group, then SIGKILL if it has not ended within
    // graceSeconds. Returns how it ended: "exited with status N",
    // "ended by signal N", "killed after 5 s".
    std::string Stop(double graceSeconds = 5);

private:
    QProcess m_process;
    bool m_started = false;
};
