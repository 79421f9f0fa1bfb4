#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A process as /proc/PID/stat tells it.
struct ProcessEntry {
    int pid = 0;
    int parent = 0;
    int group = 0;
    char state = '?'; // R, S, Z, ...
    std::string name;
    // Clock ticks from boot to its start: with the pid, names the process
    // once the pid may have been reused.
    std::uint64_t startTicks = 0;
    bool Zombie() const { return state == 'Z' || state == 'X'; }
};

// Every process on the machine now.
std::vector<ProcessEntry> ListProcesses();
// The processes that descend from ancestor, in the order found; zombies
// included, since they still hold their group until reaped.
std::vector<ProcessEntry> DescendantsOf(int ancestor, const std::vector<ProcessEntry> &processes);
// One process now, or none once it is gone.
std::optional<ProcessEntry> ReadProcess(int pid);
// The name of a process, or "" once it is gone.
std::string ProcessName(int pid);
