#include "probe/WatchedCommand.h"

#include "common/StopFlag.h"
#include "probe/LocalPort.h"
#include "probe/ProcessTable.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>

#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
// /proc/net tells no one when a port is bound, so it is read again this often.
constexpr int PortPollMs = 50;
// At most this many processes the command left are watched.
constexpr std::size_t MostLeftWatched = 8;

std::string Named(int pid, const std::string &name)
{
    return "process " + std::to_string(pid) + " (" + name + ")";
}

// A descriptor that turns readable when the process ends; Debian 12's
// header for the call is not usable from C++.
int PidFd(int pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

double SecondsUntil(Clock::time_point deadline)
{
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}
} // namespace

WatchedCommand::~WatchedCommand()
{
    if (m_started)
        Stop();
    if (m_pidFd >= 0)
        ::close(m_pidFd);
}

Status WatchedCommand::Start(const std::string &command)
{
    m_command = command;
    if (Status recorded = m_leftovers.Open(); !recorded)
        return recorded;
    const int join = m_leftovers.JoinDescriptor();
    // Orphans of the command become the probe's children, not init's, so a
    // daemon it starts stays in reach.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t probe = ::getpid();
    m_process.setProgram(QStringLiteral("/bin/sh"));
    m_process.setArguments({QStringLiteral("-c"), QStringLiteral("exec ") + QString::fromStdString(command)});
    // The collector's output is its own, as if started by hand, but all on
    // standard error: standard output is the probe's result (--json).
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
    m_process.setChildProcessModifier([probe, join] {
        // Into the run's cgroup, with all it will start; refused is no
        // failure, the list serves then.
        if (join >= 0 && ::write(join, "0", 1) < 0) {
        }
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        // The probe takes its stop signals on a thread of its own, with them
        // blocked everywhere else; the collector must still get them.
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::setpgid(0, 0);
        // A probe killed outright cannot stop it; the kernel does.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != probe)
            ::_exit(127);
    });
    m_process.start();
    if (!m_process.waitForStarted()) {
        m_leftovers.Close();
        return Status::Failure("--watch-command: cannot start '" + command +
                               "': " + m_process.errorString().toStdString());
    }
    m_pid = static_cast<int>(m_process.processId());
    m_pidFd = PidFd(m_pid);
    m_started = true;
    m_leftovers.Joined(m_pid);
    Note();
    return {};
}

bool WatchedCommand::Running() const
{
    if (!m_started)
        return false;
    // The descriptor turns readable when the process ends, with no event loop.
    pollfd ended{m_pidFd, POLLIN, 0};
    return m_pidFd >= 0 ? ::poll(&ended, 1, 0) == 0 : m_process.state() != QProcess::NotRunning;
}

CollectorUp WatchedCommand::AwaitPort(int port, TransportKind transport, double timeoutSeconds)
{
    const std::string what = "'" + m_command + "'";
    const std::string where = "port " + std::to_string(port);
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
    int emptyRounds = 0;
    for (;;) {
        const bool running = Running();
        if (LocalPortBound(port, transport))
            return Found(port, transport);
        // A daemon's starter ends at once and well; what it left may bind later.
        if (!running) {
            // Read before the command is reaped, while its orphans' parent links still lead through it.
            emptyRounds = LeftRunning().empty() ? emptyRounds + 1 : 0;
            const std::string ending = Ending();
            // /proc is read one process at a time, so a daemon forking as it
            // is read may be missed once.
            if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0 || emptyRounds > 1) {
                Stop();
                return {{}, what + " ended before " + where + " was bound: " + ending, {}, {}};
            }
        }
        if (StopRequested() || Clock::now() >= deadline) {
            Stop();
            return {{},
                    StopRequested() ? "stopped by a signal while waiting for " + what + " to bind " + where
                                    : what + " did not bind " + where + " within --connect-timeout",
                    {},
                    {}};
        }
        pollfd ended{running ? m_pidFd : -1, POLLIN, 0};
        ::poll(&ended, 1, PortPollMs);
    }
}

void WatchedCommand::Note()
{
    m_leftovers.Note(LeftRunning());
}

CollectorUp WatchedCommand::Found(int port, TransportKind transport)
{
    const std::vector<int> left = LeftRunning();
    m_leftovers.Note(left);
    // The process that holds the port, of those the command started: the
    // first one whose parent does not hold it too (workers share it).
    int holder = 0;
    const std::vector<int> holders = LocalPortHolders(port, transport);
    const std::vector<ProcessEntry> processes = ListProcesses();
    for (const ProcessEntry &process : DescendantsOf(::getpid(), processes)) {
        const auto holds = [&holders](int pid) {
            return std::find(holders.begin(), holders.end(), pid) != holders.end();
        };
        if (!process.Zombie() && holds(process.pid) && !holds(process.parent)) {
            holder = process.pid;
            break;
        }
    }
    CollectorUp up;
    if (Running()) {
        up.pids = {m_pid};
        if (holder != 0 && holder != m_pid)
            up.pids.push_back(holder);
        return up;
    }
    const std::string what = "'" + m_command + "' " + Ending();
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0) {
        Stop();
        up.error = what + " before the probe began";
        return up;
    }
    if (holder != 0) {
        up.pids = {holder};
    } else {
        up.pids.assign(left.begin(),
                       left.begin() + static_cast<std::ptrdiff_t>(std::min(left.size(), MostLeftWatched)));
    }
    if (up.pids.empty()) {
        up.error = what + " before the probe began and left nothing running to watch";
        return up;
    }
    up.detachedNote = what + " and left ";
    for (std::size_t i = 0; i < up.pids.size(); ++i) {
        const std::string name = ProcessName(up.pids[i]);
        m_followed.emplace_back(up.pids[i], name);
        up.detachedNote += (i == 0 ? "" : ", ") + Named(up.pids[i], name);
    }
    up.detachedNote += holder != 0 ? " listening on " + std::string(IsStream(transport) ? "TCP" : "UDP") + " port " +
                                         std::to_string(port)
                                   : " running";
    up.detachedNote += up.pids.size() == 1 ? ": the probe watches it in its place and stops it at the end"
                                           : ": the probe watches them in its place and stops them at the end";
    up.detachedPids = up.pids;
    return up;
}

std::string WatchedCommand::Ending()
{
    m_process.waitForFinished(1000);
    if (m_process.exitStatus() == QProcess::CrashExit)
        return "ended by a signal";
    return "exited with status " + std::to_string(m_process.exitCode());
}

std::vector<int> WatchedCommand::LeftRunning() const
{
    std::vector<int> left;
    const pid_t probe = ::getpid();
    for (const ProcessEntry &process : DescendantsOf(probe, ListProcesses())) {
        if (!process.Zombie()) {
            left.push_back(process.pid);
        } else if (process.parent == probe && process.pid != m_pid) {
            // Adopted, so the probe must reap it; the command itself is QProcess's.
            ::waitpid(process.pid, nullptr, WNOHANG);
        }
    }
    return left;
}

void WatchedCommand::Signal(int signal) const
{
    // The group as a whole, though its first process may have ended, and
    // what left the group (a daemon's own session).
    ::kill(-m_pid, signal);
    for (const int pid : LeftRunning())
        ::kill(pid, signal);
}

bool WatchedCommand::AwaitEnd(double seconds)
{
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        std::vector<int> left = LeftRunning();
        if (left.empty())
            return true;
        const double remaining = SecondsUntil(deadline);
        if (remaining <= 0)
            return false;
        std::vector<pollfd> ends;
        for (const int pid : left)
            if (const int fd = PidFd(pid); fd >= 0)
                ends.push_back({fd, POLLIN, 0});
        // A process started meanwhile is seen on the next round.
        ::poll(ends.data(), ends.size(), std::min(100, static_cast<int>(std::ceil(remaining * 1000))));
        for (const pollfd &end : ends)
            ::close(end.fd);
    }
}

std::string WatchedCommand::Stop(double graceSeconds)
{
    if (!m_started)
        return {};
    Signal(SIGTERM);
    std::string ending;
    if (!AwaitEnd(graceSeconds)) {
        Signal(SIGKILL);
        AwaitEnd(graceSeconds);
        ending = "killed after " + std::to_string(std::lround(graceSeconds)) + " s";
    }
    const std::string own = Ending();
    m_started = false;
    m_leftovers.Close();
    if (ending.empty())
        ending = own;
    for (const auto &[pid, name] : m_followed)
        ending += "; stopped " + Named(pid, name);
    m_followed.clear();
    return ending;
}
