#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// How one step at a fixed rate went.
enum class StepVerdict { Holds, Loss, Latency, Sender };

// What a step's judge needs of it.
struct StepOutcome {
    std::int64_t sent = 0;
    std::int64_t lost = 0;
    std::optional<double> p99Ms;
    // The sender sent less than the step's rate asked, and whether its own
    // thread was at a full core meanwhile (else the collector held it back).
    bool senderShort = false;
    bool senderBound = false;
    // Datagrams cannot be held back, so a short sender there is no verdict.
    bool stream = true;
};

struct StepLimits {
    double maxLoss = 0; // a share of sent
    std::optional<double> maxP99Ms;
};

// A step holds when lost / sent <= maxLoss and p99 is within its limit. A
// collector that held the sender back (a full TCP window) delays messages,
// so that counts as latency; a sender short of the rate on its own is no
// verdict on the collector.
StepVerdict JudgeStep(const StepOutcome &outcome, const StepLimits &limits);

struct SearchSettings {
    double startRate = 1000;
    std::optional<double> maxRate;
    // Bisection ends when the rate that failed is within this share above
    // the one that held.
    double precision = 0.05;
};

// The search for the highest rate a collector sustains: the rate doubles
// from the start while steps hold; after the first that fails it bisects
// between the last that held and the first that failed. A step the sender
// itself could not run ends the search (the collector was not the limit),
// as does a held step at the largest rate allowed.
class RateSearch {
public:
    explicit RateSearch(const SearchSettings &settings);

    // The next step's rate, or none when the search is over.
    std::optional<double> NextRate() const { return m_next; }
    void Record(double rate, StepVerdict verdict);

    // The highest rate that held; 0 when none did.
    double MaxSustainable() const { return m_held; }
    // loss, latency, sender or max-rate; empty while the search goes on.
    const std::string &LimitedBy() const { return m_limitedBy; }

private:
    void Bisect();

    SearchSettings m_settings;
    std::optional<double> m_next;
    double m_held = 0;
    std::optional<double> m_failed;
    std::string m_failedBy;
    std::string m_limitedBy;
};

// Runs the whole search, asking runStep for each rate in turn; returns the
// rates tried, in order.
std::vector<double> SearchRates(RateSearch &search, const std::function<StepVerdict(double rate)> &runStep);
