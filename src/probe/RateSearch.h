#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// How one step at a fixed rate went.
enum class StepVerdict { Holds, Loss, Duplicates, Latency, BackPressure, Sender, Refused };
// holds, loss, duplicates, latency, back-pressure, sender, refused
const char *VerdictName(StepVerdict verdict);

// What a step's judge needs of it.
struct StepOutcome {
    std::int64_t sent = 0;
    // As the receiver's ledger has it: gaps and the tail short of what was sent.
    std::int64_t lost = 0;
    std::optional<double> p99Ms;
    // The sender sent less than the step's rate asked, and whether its own
    // threads were the limit meanwhile (else the collector held it back).
    bool senderShort = false;
    bool senderBound = false;
    // Datagrams cannot be held back: a short sender there is its own limit.
    bool stream = true;
    // Datagrams or connections the target refused.
    std::int64_t refused = 0;
    // Stream sessions: time the sender waited for room, bytes the target had
    // not taken when sending ended and after the drain, and messages handed
    // over late.
    double blockedSeconds = 0;
    std::int64_t queuedBytes = 0;
    std::int64_t untakenBytes = 0;
    std::int64_t late = 0;
    double stepSeconds = 10;
    // What the step's rate sends each second.
    double bytesPerSecond = 0;
    // The share of the step's messages that went.
    double sentShare = 1;
    // The p99 of what arrived in the step's first moments, and the p99 and
    // p10 of what arrived from its last ones on: a collector that falls
    // behind delays each message more, one that paused only a few.
    std::optional<double> firstP99Ms{};
    std::optional<double> lastP99Ms{};
    std::optional<double> lastP10Ms{};
    // Distinct messages received, and arrivals of one already received.
    std::int64_t received = 0;
    std::int64_t duplicates = 0;
};

struct StepLimits {
    double maxLoss = 0; // a share of sent
    std::optional<double> maxP99Ms;
    double maxDuplicates = 0.001; // a share of received
};

struct StepJudgement {
    StepVerdict verdict = StepVerdict::Holds;
    // Why it failed: "loss 0.65%", "back-pressure: 1.2 MB not taken"; empty when it held.
    std::string reason;
};

// A step holds when nothing was refused, the sender reached the rate, the
// collector took what it was given in time, lost / sent <= maxLoss,
// duplicates / received <= maxDuplicates and p99 is within its limit. A sender short of the rate at the probe's own
// limit is no verdict on the collector (sender); over a stream a collector that held the sender back, or whose latency
// grew through the step, fails it by back-pressure.
StepJudgement JudgeStep(const StepOutcome &outcome, const StepLimits &limits);

struct SearchSettings {
    double startRate = 1000;
    std::optional<double> maxRate;
    // Bisection ends when the rate that failed is within this share above
    // the one that held.
    double precision = 0.05;
    // How often the boundary is run again once found.
    int confirm = 0;
};

// What the search needs of a step: its verdict and its p99.
struct StepReport {
    StepReport(StepVerdict v, std::optional<double> p99 = std::nullopt) : verdict(v), p99Ms(p99) {}
    StepVerdict verdict;
    std::optional<double> p99Ms;
};

// The search for the highest rate a collector sustains: the rate doubles
// from the start while steps hold; after the first that fails it bisects
// between the last that held and the first that failed. A step the sender
// itself could not run ends the search (the collector was not the limit),
// as does a held step at the largest rate allowed, and a latency failure
// whose p99 a step at half or twice the rate had too (the collector's
// latency floor, which no rate gets under). Then the highest rate that held
// and the lowest that failed are run again (confirm times each); a run that
// disagrees takes the search up from there.
class RateSearch {
public:
    explicit RateSearch(const SearchSettings &settings);

    // The next step's rate, or none when the search is over.
    std::optional<double> NextRate() const { return m_next; }
    void Record(double rate, const StepReport &step);

    // The highest rate whose latest run held; 0 when none did.
    double MaxSustainable() const { return m_held; }
    // loss, duplicates, latency, back-pressure, refused, sender, max-rate
    // or latency-floor; empty while the search goes on.
    const std::string &LimitedBy() const { return m_limitedBy; }
    // The rate found and the lowest that failed above it were run again
    // and every run of each agreed.
    bool Confirmed() const;

private:
    struct Tried {
        double rate;
        StepReport step;
    };
    void Bisect();
    // The search found its answer: run the boundary again, if asked.
    void Conclude();
    void Confirm(double rate, StepVerdict verdict);
    bool AtLatencyFloor(const Tried &latest) const;
    // The failed rate is a boundary the collector set, worth running again.
    bool FailedIsBoundary() const;
    bool AllRuns(double rate, bool held) const;

    SearchSettings m_settings;
    std::optional<double> m_next;
    double m_held = 0;
    std::optional<double> m_failed;
    std::string m_failedBy;
    std::string m_limitedBy;
    std::vector<Tried> m_tried;
    std::deque<double> m_confirming;
    int m_resumes = 0;
};

// Runs the whole search, asking runStep for each rate in turn; returns the
// rates tried, in order.
std::vector<double> SearchRates(RateSearch &search, const std::function<StepReport(double rate)> &runStep);
