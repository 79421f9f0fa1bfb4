#include "probe/Leftovers.h"

#include "probe/ProcessTable.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
constexpr const char *RecordHead = "quillon-probe";
constexpr const char *CgroupPrefix = "quillon-probe-";
constexpr const char *RecordSuffix = ".run";

std::string ReadText(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WriteText(const std::string &path, const std::string &text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

std::vector<std::string> Words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// The cgroup v2 hierarchy's mount point, with the mount's own root "/".
std::vector<std::string> CgroupMounts()
{
    std::vector<std::string> mounts;
    std::istringstream in(ReadText("/proc/self/mountinfo"));
    for (std::string line; std::getline(in, line);) {
        const std::size_t dash = line.find(" - ");
        if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0)
            continue;
        const std::vector<std::string> fields = Words(line.substr(0, dash));
        if (fields.size() >= 5 && fields[3] == "/")
            mounts.push_back(fields[4]);
    }
    return mounts;
}

// The cgroup v2 path of a process ("0::/a/b"); empty when unknown.
std::string CgroupOf(int pid)
{
    std::istringstream in(ReadText("/proc/" + (pid > 0 ? std::to_string(pid) : std::string("self")) + "/cgroup"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("0::", 0) == 0)
            return line.substr(3);
    return {};
}

// A record may be written by anyone who can write the folder, so a cgroup
// it names is killed only when it is one a probe made.
bool IsProbeCgroup(const std::string &path)
{
    if (path.find("/../") != std::string::npos || path.find("/./") != std::string::npos)
        return false;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.compare(slash + 1, std::strlen(CgroupPrefix), CgroupPrefix) != 0)
        return false;
    for (const std::string &mount : CgroupMounts())
        if (path.size() > mount.size() + 1 && path.compare(0, mount.size(), mount) == 0 && path[mount.size()] == '/')
            return true;
    return false;
}

bool Populated(const std::string &cgroup)
{
    std::istringstream in(ReadText(cgroup + "/cgroup.events"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("populated ", 0) == 0)
            return line != "populated 0";
    // Gone, or not a cgroup v2 folder.
    return false;
}

// Read through the descriptor polled, which a read makes wait for the next change.
bool PopulatedIn(int events)
{
    char text[256];
    if (::lseek(events, 0, SEEK_SET) != 0)
        return false;
    const ssize_t length = ::read(events, text, sizeof text - 1);
    if (length <= 0)
        return false;
    text[length] = '\0';
    return std::strstr(text, "populated 1") != nullptr;
}

std::vector<int> CgroupPids(const std::string &cgroup)
{
    std::vector<int> pids;
    std::istringstream in(ReadText(cgroup + "/cgroup.procs"));
    for (int pid = 0; in >> pid;)
        pids.push_back(pid);
    return pids;
}

// Kills every process in the cgroup and removes it; how many there were.
std::size_t KillCgroup(const std::string &cgroup, double seconds)
{
    const std::size_t count = CgroupPids(cgroup).size();
    // Without cgroup.kill (before Linux 5.14) each process in turn, again
    // for those forked meanwhile.
    if (!WriteText(cgroup + "/cgroup.kill", "1"))
        for (int round = 0; round < 10 && Populated(cgroup); ++round)
            for (const int pid : CgroupPids(cgroup))
                ::kill(pid, SIGKILL);
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const int events = ::open((cgroup + "/cgroup.events").c_str(), O_RDONLY | O_CLOEXEC);
    // The file signals a change of "populated" as an exceptional event.
    while ((events >= 0 ? PopulatedIn(events) : Populated(cgroup)) && Clock::now() < deadline) {
        pollfd changed{events, POLLPRI, 0};
        ::poll(&changed, 1, 100);
    }
    if (events >= 0)
        ::close(events);
    ::rmdir(cgroup.c_str());
    return count;
}

bool SameProcess(int pid, std::uint64_t startTicks)
{
    const std::optional<ProcessEntry> process = ReadProcess(pid);
    return process && process->startTicks == startTicks && !process->Zombie();
}

std::string Owner()
{
    const std::optional<ProcessEntry> self = ReadProcess(static_cast<int>(::getpid()));
    return std::string(RecordHead) + " " + std::to_string(::getpid()) + " " +
           std::to_string(self ? self->startTicks : 0);
}

std::string FolderPath()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && runtime[0] == '/' ? std::string(runtime) + "/quillon-probe"
                                        : "/tmp/quillon-probe-" + std::to_string(::getuid());
}

// In a folder others can write, another user could plant records.
bool OwnedAlone(const std::string &folder)
{
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
           (status.st_mode & 077) == 0;
}

std::string ProcessesText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " process" : " processes");
}
} // namespace

std::string LeftoversFolder(std::string *why)
{
    const std::string folder = FolderPath();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (why)
            *why = "cannot make '" + folder + "': " + std::strerror(errno);
        return {};
    }
    if (!OwnedAlone(folder)) {
        if (why)
            *why = "'" + folder + "' is not a folder of this user's alone";
        return {};
    }
    return folder;
}

Leftovers::~Leftovers()
{
    if (m_join >= 0)
        ::close(m_join);
}

Status Leftovers::Open()
{
    std::string why;
    const std::string folder = LeftoversFolder(&why);
    if (folder.empty())
        return Status::Failure("--watch-command: cannot keep the record of what it starts: " + why);
    m_path = folder + "/" + std::to_string(::getpid()) + RecordSuffix;
    m_owner = Owner();
    const char *setting = std::getenv("QUILLON_PROBE_CGROUP");
    const std::string own = CgroupOf(0);
    const std::vector<std::string> mounts = CgroupMounts();
    if ((!setting || std::string(setting) != "off") && !own.empty() && !mounts.empty()) {
        const std::string cgroup =
            mounts.front() + (own == "/" ? "" : own) + "/" + CgroupPrefix + std::to_string(::getpid());
        // Made where this user may; elsewhere (not delegated, read-only) the list serves.
        // One an earlier process of this pid left is not this run's.
        if (::mkdir(cgroup.c_str(), 0755) != 0 && errno == EEXIST) {
            KillCgroup(cgroup, 1);
            ::mkdir(cgroup.c_str(), 0755);
        }
        if (::access(cgroup.c_str(), W_OK) == 0) {
            m_join = ::open((cgroup + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC);
            if (m_join >= 0)
                m_cgroup = cgroup;
            else
                ::rmdir(cgroup.c_str());
        }
    }
    Write({});
    return {};
}

void Leftovers::Joined(int pid)
{
    if (m_cgroup.empty())
        return;
    const std::string own = CgroupOf(0);
    const std::string expected = (own == "/" ? "" : own) + "/" + CgroupPrefix + std::to_string(::getpid());
    if (CgroupOf(pid) != expected)
        DropCgroup();
    if (m_join >= 0)
        ::close(m_join);
    m_join = -1;
    Write({});
}

void Leftovers::DropCgroup()
{
    ::rmdir(m_cgroup.c_str());
    m_cgroup.clear();
}

void Leftovers::Note(const std::vector<int> &pids)
{
    if (!IsOpen() || !m_cgroup.empty())
        return;
    std::vector<std::string> lines;
    for (const int pid : pids)
        if (const std::optional<ProcessEntry> process = ReadProcess(pid))
            lines.push_back("process " + std::to_string(pid) + " " + std::to_string(process->startTicks));
    Write(lines);
}

void Leftovers::Write(const std::vector<std::string> &lines)
{
    if (!IsOpen())
        return;
    std::string text = m_owner + "\n";
    if (!m_cgroup.empty())
        text += "cgroup " + m_cgroup + "\n";
    for (const std::string &line : lines)
        text += line + "\n";
    // Whole or not at all: a probe killed while writing leaves the last list.
    const std::string next = m_path + ".new";
    std::ofstream out(next, std::ios::trunc);
    out << text;
    out.close();
    if (out)
        std::rename(next.c_str(), m_path.c_str());
}

void Leftovers::Close()
{
    if (!IsOpen())
        return;
    if (!m_cgroup.empty())
        KillCgroup(m_cgroup, 5);
    m_cgroup.clear();
    if (m_join >= 0)
        ::close(m_join);
    m_join = -1;
    std::remove(m_path.c_str());
    m_path.clear();
}

LeftoversEnded EndLeftovers(const std::string &path, double graceSeconds)
{
    LeftoversEnded ended;
    std::ifstream file(path);
    if (!file) {
        ended.notARecord = true;
        ended.status = Status::Failure("--cleanup: cannot read '" + path + "': " + std::strerror(errno));
        return ended;
    }
    std::string line;
    std::getline(file, line);
    const std::vector<std::string> head = Words(line);
    char *end = nullptr;
    const long owner = head.size() == 3 ? std::strtol(head[1].c_str(), &end, 10) : 0;
    if (head.size() != 3 || head[0] != RecordHead || owner <= 0) {
        ended.notARecord = true;
        ended.status = Status::Failure("--cleanup: '" + path + "' is not a record quillon-probe wrote");
        return ended;
    }
    if (SameProcess(static_cast<int>(owner), std::strtoull(head[2].c_str(), nullptr, 10))) {
        ended.status = Status::Failure("--cleanup: the probe that wrote '" + path + "' (process " + head[1] +
                                       ") is still running");
        return ended;
    }
    std::size_t count = 0;
    std::vector<int> alive;
    while (std::getline(file, line)) {
        const std::vector<std::string> words = Words(line);
        if (words.size() == 2 && words[0] == "cgroup" && IsProbeCgroup(words[1]))
            count += KillCgroup(words[1], graceSeconds);
        if (words.size() == 3 && words[0] == "process") {
            const int pid = std::atoi(words[1].c_str());
            if (pid > 1 && SameProcess(pid, std::strtoull(words[2].c_str(), nullptr, 10))) {
                ::kill(pid, SIGTERM);
                alive.push_back(pid);
            }
        }
    }
    count += alive.size();
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(graceSeconds));
    bool killed = false;
    for (;;) {
        // A process that ended and its pid, used again, are told apart by the start time.
        std::vector<std::pair<int, std::uint64_t>> left;
        for (const int pid : alive)
            if (const std::optional<ProcessEntry> process = ReadProcess(pid); process && !process->Zombie())
                left.emplace_back(pid, process->startTicks);
        if (left.empty())
            break;
        if (Clock::now() >= deadline) {
            if (killed)
                break;
            for (const auto &[pid, ticks] : left)
                if (SameProcess(pid, ticks))
                    ::kill(pid, SIGKILL);
            killed = true;
            continue;
        }
        std::vector<pollfd> ends;
        for (const auto &[pid, ticks] : left)
            if (const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); fd >= 0)
                ends.push_back({fd, POLLIN, 0});
        ::poll(ends.data(), ends.size(), 100);
        for (const pollfd &fd : ends)
            ::close(fd.fd);
    }
    std::remove(path.c_str());
    ended.what = count == 0
                     ? "nothing that the probe (process " + head[1] + ") started was left running"
                     : "ended " + ProcessesText(count) + " that the probe (process " + head[1] + ") left running" +
                           (killed ? ", some killed after " + std::to_string(std::lround(graceSeconds)) + " s" : "");
    return ended;
}

std::vector<std::string> EndAllLeftovers(double graceSeconds)
{
    std::vector<std::string> lines;
    // Not made for this: no folder, no record.
    const std::string folder = FolderPath();
    if (!OwnedAlone(folder))
        return lines;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return lines;
    std::vector<std::string> records;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > std::strlen(RecordSuffix) &&
            name.compare(name.size() - std::strlen(RecordSuffix), std::string::npos, RecordSuffix) == 0)
            records.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(records.begin(), records.end());
    for (const std::string &record : records) {
        const LeftoversEnded ended = EndLeftovers(record, graceSeconds);
        // A run still going keeps its own; one ended with nothing left is not worth a line.
        if (ended.status && ended.what.rfind("ended ", 0) == 0)
            lines.push_back(ended.what + " (" + record + ")");
    }
    return lines;
}
