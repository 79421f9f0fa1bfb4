#pragma once

#include "cli/common/FlagTable.h"
#include "cli/recv/RecvCommandLine.h"
#include "cli/send/CommandLine.h"

#include <optional>
#include <string>
#include <vector>

// Where the collector under test delivers: a listener inside the probe
// (quillon-recv's, with its checks) or a file the collector writes.
struct ReceiveSpec {
    std::string text;    // as given: "tcp:5514"
    std::string kind;    // tcp, udp, tls, relp, unix-dgram, file
    std::string path;    // file and Unix sockets
    std::string address; // tcp:ADDR:PORT and the like; empty: every address
    bool IsFile() const { return kind == "file"; }
};

struct ProbeOptions {
    // One step's sender; the probe sets its rate, duration and run id.
    Options send;
    std::string transport = "udp";
    ReceiveSpec receive;
    // The listener, when the collector delivers to a socket.
    RecvOptions recv;
    std::vector<int> watchPids;
    std::string watchCommand;
    // --cleanup: the record of a killed run, whose leftovers to end.
    std::string cleanup;
    double startRate = 1000;
    std::optional<double> maxRate;
    double stepSeconds = 10;
    double drainSeconds = 5;
    double maxLoss = 0;
    double maxDuplicates = 0.001;
    std::optional<double> maxP99Ms;
    double precision = 0.05;
    // Times the boundary is run again once found.
    int confirm = 1;
    std::string report;
    bool json = false;
    // A line each second of a step or soak run on standard error.
    bool progress = false;
    std::string statsFile;
    std::optional<double> requireMps;
    // --soak: how long to hold one rate after the search (or at soakRate
    // without one), and the memory growth that counts as a leak.
    std::optional<double> soakSeconds;
    std::optional<double> soakRate;
    double maxRssGrowthMbPerHour = 50;
    // The whole command line, for the report.
    std::string commandLine;
    MetricsOptions metrics;
};

struct ProbeParseResult {
    enum class Action { Run, Help, Version, UsageError, Cleanup };
    Action action = Action::Run;
    ProbeOptions options;
    std::string error;
    // The sender's lines about flags that have no effect; the probe runs.
    std::vector<std::string> warnings;
};

// quillon-recv's TLS flags as the probe lends them: --cert is --receive-cert.
inline constexpr RecvFlagNames ProbeReceiveNames{"--receive-", "--receive tls:PORT"};

// args excludes the program name.
[[nodiscard]] ProbeParseResult ParseProbeCommandLine(const std::vector<std::string> &args);
std::string ProbeUsageText();
// The probe's flags with quillon-send's message, format, TLS and load
// flags and quillon-recv's TLS flags (as --receive-*) taken from their own
// tables, for the help, the man page and the completion.
FlagTable ProbeFlagTable();
