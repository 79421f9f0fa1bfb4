#pragma once

#include "common/Status.h"

#include <string>
#include <vector>

// Where a run keeps the record of what its --watch-command started:
// $XDG_RUNTIME_DIR/quillon-probe, else /tmp/quillon-probe-UID. Empty, with
// why, when the folder cannot be made or is not the user's own alone.
std::string LeftoversFolder(std::string *why = nullptr);

// What a run started, kept so that a later run can end it when this one is
// killed outright (a parent-death signal reaches the first process only):
// a cgroup of the run's own where one can be made, its processes killed
// together; else the processes with their start times, so a pid used again
// by another process is never signalled. One file a run, removed at a
// clean end. QUILLON_PROBE_CGROUP=off keeps to the list.
class Leftovers {
public:
    Leftovers() = default;
    ~Leftovers();
    Leftovers(const Leftovers &) = delete;
    Leftovers &operator=(const Leftovers &) = delete;

    // Makes the record, and the cgroup when one can be made.
    Status Open();
    bool IsOpen() const { return !m_path.empty(); }
    const std::string &Path() const { return m_path; }
    // The cgroup's folder; empty without one.
    const std::string &Cgroup() const { return m_cgroup; }
    // Where a child writes "0" to move into the cgroup before it runs the
    // command (closed on exec); -1 without a cgroup.
    int JoinDescriptor() const { return m_join; }
    // Keeps the cgroup only when pid went into it (moving may be refused).
    void Joined(int pid);
    // The processes running now, written down when there is no cgroup.
    void Note(const std::vector<int> &pids);
    // At a clean end: kills what is left in the cgroup, removes it and the record.
    void Close();

private:
    void Write(const std::vector<std::string> &lines);
    void DropCgroup();

    std::string m_path;
    std::string m_cgroup;
    std::string m_owner;
    int m_join = -1;
};

struct LeftoversEnded {
    Status status;
    // The file named is no record of a run (a usage error).
    bool notARecord = false;
    // What was ended, in words.
    std::string what;
};

// Ends what the run that wrote the record at path left running (SIGTERM,
// then SIGKILL after graceSeconds; a cgroup is killed at once) and removes
// the record; refused while that run goes on.
LeftoversEnded EndLeftovers(const std::string &path, double graceSeconds = 5);
// The same for every record in the folder whose run is over: a line for each.
std::vector<std::string> EndAllLeftovers(double graceSeconds = 5);
