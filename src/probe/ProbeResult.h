#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What quillon-probe found, as the text summary, --json and the report read it.

// A watched process over one step: its mean CPU share (100 is one core) and
// its largest resident memory.
struct ProcessFigures {
    int pid = 0;
    std::string name;
    double cpuPercent = 0;
    std::int64_t rssBytes = 0;
};

// What else went on while a step sent, which makes its result less sure:
// the machine's idle and stolen shares of processor time (/proc/stat), the
// probe's own processor use (100 is one core), the largest share of the
// step one of its threads waited for a processor, and the watched
// collector's processor use.
struct StepNoise {
    double idleCpuShare = 1;
    double stealShare = 0;
    double probeCpuPercent = 0;
    double probeWaitShare = 0;
    std::optional<double> collectorCpuPercent;
};

struct LatencyMs {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

struct ProbeStep {
    int number = 0;  // from 1
    double rate = 0; // offered, messages per second
    // 1 for a rate's first step, 2 for its first repeat, ...
    int attempt = 1;
    std::string runId;
    std::int64_t sent = 0;
    std::int64_t received = 0;
    // Sent and never received, as the receiver's ledger has it: the gaps
    // and the tail short of what was sent; refused ones are not lost.
    std::int64_t lost = 0;
    // Datagrams or connections the target refused.
    std::int64_t refused = 0;
    std::int64_t duplicates = 0;
    std::int64_t reordered = 0;
    // Arrivals timed no later than their stamp says they were sent: the
    // collector rewrote the stamps' times, or the clock was set back.
    std::int64_t stampsRewritten = 0;
    // None when nothing arrived with a receive time (a file has none).
    std::optional<LatencyMs> latency;
    bool held = false;
    // holds, loss, duplicates, latency, back-pressure, sender, refused or
    // stopped: what decided the step, and why it failed in a few words
    // ("loss 0.65%").
    std::string verdict;
    std::string reason;
    bool noisy = false;
    StepNoise noise;
    // Seconds since the probe started: the step's first message, and the
    // end of its drain.
    double startSeconds = 0;
    double endSeconds = 0;
    std::vector<ProcessFigures> processes;
};

// One reading of a watched process, each second.
struct WatchSample {
    double seconds = 0; // since the probe started
    int pid = 0;
    std::string name;
    double cpuPercent = 0;
    std::int64_t rssBytes = 0;
};

struct ProbeSettings {
    std::string target;
    int port = 0;
    std::string transport;
    std::string receive; // "tcp:5514", "file:/var/log/x"
    double startRate = 1000;
    std::optional<double> maxRate{};
    double stepSeconds = 10;
    double drainSeconds = 5;
    double maxLoss = 0;           // a share of sent, 0..1
    double maxDuplicates = 0.001; // a share of received, 0..1
    std::optional<double> maxP99Ms{};
    double precision = 0.05;
    std::optional<double> requireMps{};
    int confirm = 1;
    std::vector<int> watchPids;
    std::string watchCommand;
    std::optional<double> soakSeconds{};
    std::optional<double> soakRate{};
    double maxRssGrowthMbPerHour = 50;
};

// One rate held for a long while after the search, and whether the
// collector held it: its memory, CPU and latency over time.
struct SoakResult {
    double rate = 0;
    double startSeconds = 0;    // since the probe started
    double durationSeconds = 0; // as run, shorter when stopped
    // Least squares over the watched processes' resident memory after the
    // first tenth; none without a watched process or with too few samples.
    std::optional<double> rssSlopeMbPerHour;
    std::optional<double> cpuPercent;
    // One p99 a minute; none for a minute nothing arrived with a time in.
    std::vector<std::optional<double>> p99MsPerMinute;
    std::optional<double> p99FirstTenthMs;
    std::optional<double> p99LastTenthMs;
    std::int64_t sent = 0;
    std::int64_t lost = 0;
    // holds, leaks or degrades, and why in words.
    std::string verdict;
    std::string reason;
};

// Where and when the probe ran, for a reader weighing its answer.
struct ProbeContext {
    std::string date; // the start, ISO 8601 with the offset from UTC
    std::string host;
    std::string system; // "Debian GNU/Linux 12 (bookworm)"
    std::string kernel; // "Linux 6.1.0-18-amd64 x86_64"
    std::string cpuModel;
    int cpuCount = 0;
    // The 1, 5 and 15 minute load averages at the start; empty if unread.
    std::vector<double> loadAverage;
    std::string version;
    std::string commandLine;
};

struct ProbeResult {
    ProbeContext context;
    ProbeSettings settings;
    std::vector<ProbeStep> steps;
    std::vector<WatchSample> watchSamples;
    // The highest rate that held; 0 when none did.
    double maxSustainableMps = 0;
    // loss, duplicates, latency, back-pressure, refused, sender, max-rate
    // or latency-floor; empty when the probe was stopped.
    std::string limitedBy;
    // The boundary was run again and agreed; how sure the answer is, and
    // why not when it is not ("high" or "low").
    bool confirmed = false;
    std::string confidence = "high";
    std::string confidenceReason;
    // --watch-command ended and left the collector running on its own:
    // the processes watched in its place, and a sentence saying so.
    std::vector<int> detachedPids;
    std::string detachedNote;
    std::optional<SoakResult> soak;
    // Why the probe ended early (a signal, a sender failure); empty otherwise.
    std::string error;
};
