#include "probe/RateSearch.h"

#include "common/TextHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// Below one message a second a rate means nothing: the bisection of a
// collector that takes nothing ends there.
constexpr double LeastRate = 1;
// A boundary that keeps moving when run again is left unconfirmed.
constexpr int MostResumes = 2;

// Over a stream the collector held the sender back when it waited for room
// this long, left this much untaken (at least a quarter second of the rate:
// more than any network keeps in flight), or handed this share over late.
constexpr double BlockedSeconds = 0.1;
constexpr double BlockedShare = 0.01;
constexpr double QueuedSeconds = 0.25;
constexpr std::int64_t QueuedBytes = 64 * 1024;
constexpr double LateShare = 0.05;
// Latency grew through a step when the p99 at its end is this many times
// the one at its start, and even the p10 at its end is later than the p99
// at its start by 100 ms and 2% of the step: a pause of the collector
// delays a few messages, a queue that grows all of them.
constexpr double Growth = 3;
constexpr double GrowthMs = 100;
constexpr double GrowthShare = 0.02;
// Two steps, one at half the rate of the other or less, whose p99 is this
// close share a floor.
constexpr double FloorSpread = 0.2;

std::string Figure(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}

std::string Megabytes(std::int64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string Percent(double share)
{
    return Figure(share * 100) + "%";
}

// Empty, or why latency grew through the step.
std::string LatencyGrowth(const StepOutcome &o)
{
    if (!o.firstP99Ms || !o.lastP99Ms || !o.lastP10Ms)
        return {};
    const double first = *o.firstP99Ms;
    const double last = *o.lastP99Ms;
    if (last < Growth * first || *o.lastP10Ms - first < std::max(GrowthMs, GrowthShare * o.stepSeconds * 1000))
        return {};
    return "p99 grew from " + Figure(first) + " ms to " + Figure(last) + " ms";
}

// Empty, or how the collector held a stream's sender back.
std::string HeldBack(const StepOutcome &o, const std::string &growth)
{
    if (o.queuedBytes > std::max<double>(QueuedBytes, QueuedSeconds * o.bytesPerSecond))
        return Megabytes(o.queuedBytes) + " not taken";
    if (o.blockedSeconds > std::max(BlockedSeconds, BlockedShare * o.stepSeconds))
        return "blocked " + Figure(o.blockedSeconds) + " s";
    if (o.senderShort)
        return Percent(o.sentShare) + " of the rate sent";
    if (static_cast<double>(o.late) > LateShare * static_cast<double>(o.sent))
        return Percent(static_cast<double>(o.late) / static_cast<double>(std::max<std::int64_t>(o.sent, 1))) +
               " sent late";
    return growth;
}

bool Near(double a, double b, double spread)
{
    return std::abs(a - b) <= spread * std::max(a, b);
}
} // namespace

const char *VerdictName(StepVerdict verdict)
{
    switch (verdict) {
    case StepVerdict::Holds:
        return "holds";
    case StepVerdict::Loss:
        return "loss";
    case StepVerdict::Duplicates:
        return "duplicates";
    case StepVerdict::Latency:
        return "latency";
    case StepVerdict::BackPressure:
        return "back-pressure";
    case StepVerdict::Sender:
        return "sender";
    case StepVerdict::Refused:
        return "refused";
    }
    return "";
}

StepJudgement JudgeStep(const StepOutcome &o, const StepLimits &limits)
{
    const double sent = static_cast<double>(o.sent);
    if (o.refused > 0 && static_cast<double>(o.refused) > limits.maxLoss * sent)
        return {StepVerdict::Refused, "refused: " + Grouped(o.refused)};
    if (o.senderShort && o.senderBound)
        return {StepVerdict::Sender, "sender at a full core"};
    if (o.stream && o.untakenBytes > 0)
        return {StepVerdict::BackPressure, "back-pressure: " + Megabytes(o.untakenBytes) + " not taken"};
    if (o.sent <= 0)
        return {StepVerdict::Loss, "nothing sent"};
    if (static_cast<double>(o.lost) > limits.maxLoss * sent)
        return {StepVerdict::Loss, "loss " + Percent(static_cast<double>(o.lost) / sent)};
    // A collector that delivers a message twice holds no rate: its output
    // is not what it was given.
    if (o.duplicates > 0 && static_cast<double>(o.duplicates) > limits.maxDuplicates * static_cast<double>(o.received))
        return {StepVerdict::Duplicates, "duplicates " +
                                             Percent(static_cast<double>(o.duplicates) /
                                                     static_cast<double>(std::max<std::int64_t>(o.received, 1))) +
                                             " of delivered"};
    const std::string growth = LatencyGrowth(o);
    if (o.stream) {
        if (const std::string how = HeldBack(o, growth); !how.empty())
            return {StepVerdict::BackPressure, "back-pressure: " + how};
    } else if (o.senderShort) {
        return {StepVerdict::Sender, "sender reached " + Percent(o.sentShare) + " of the rate"};
    } else if (!growth.empty()) {
        return {StepVerdict::Latency, growth};
    }
    if (limits.maxP99Ms && !o.p99Ms)
        return {StepVerdict::Latency, "no latency measured"};
    if (limits.maxP99Ms && *o.p99Ms > *limits.maxP99Ms)
        return {StepVerdict::Latency, "p99 " + Figure(*o.p99Ms) + " ms > " + Figure(*limits.maxP99Ms) + " ms"};
    return {};
}

RateSearch::RateSearch(const SearchSettings &settings) : m_settings(settings)
{
    m_next = m_settings.maxRate ? std::min(m_settings.startRate, *m_settings.maxRate) : m_settings.startRate;
}

void RateSearch::Record(double rate, const StepReport &step)
{
    m_tried.push_back({rate, step});
    m_next.reset();
    const StepVerdict verdict = step.verdict;
    if (!m_confirming.empty()) {
        Confirm(rate, verdict);
        return;
    }
    if (verdict == StepVerdict::Sender) {
        m_limitedBy = VerdictName(verdict);
        Conclude();
        return;
    }
    if (verdict == StepVerdict::Holds) {
        m_held = std::max(m_held, rate);
        if (!m_failed) {
            if (m_settings.maxRate && rate >= *m_settings.maxRate) {
                m_limitedBy = "max-rate";
                Conclude();
                return;
            }
            const double doubled = rate * 2;
            m_next = m_settings.maxRate ? std::min(doubled, *m_settings.maxRate) : doubled;
            return;
        }
    } else {
        if (!m_failed || rate <= *m_failed) {
            m_failed = rate;
            m_failedBy = VerdictName(verdict);
        }
        if (AtLatencyFloor(m_tried.back())) {
            m_limitedBy = "latency-floor";
            return;
        }
    }
    Bisect();
}

void RateSearch::Bisect()
{
    const double failed = *m_failed;
    // Whole messages per second: a half message a second is not a rate anyone sets.
    const double middle = std::round((m_held + failed) / 2);
    if (failed - m_held <= m_settings.precision * std::max(m_held, LeastRate) || failed <= LeastRate ||
        middle <= m_held || middle >= failed) {
        m_limitedBy = m_failedBy;
        Conclude();
        return;
    }
    m_next = middle;
}

bool RateSearch::FailedIsBoundary() const
{
    return m_failed && m_limitedBy == m_failedBy && m_failedBy != VerdictName(StepVerdict::Sender);
}

void RateSearch::Conclude()
{
    if (m_resumes > MostResumes)
        return;
    for (int i = 0; i < m_settings.confirm; ++i) {
        if (m_held > 0)
            m_confirming.push_back(m_held);
        if (FailedIsBoundary())
            m_confirming.push_back(*m_failed);
    }
    if (!m_confirming.empty())
        m_next = m_confirming.front();
}

void RateSearch::Confirm(double rate, StepVerdict verdict)
{
    m_confirming.pop_front();
    // A repeat the sender could not run says nothing of the collector: the
    // boundary stays as found, unconfirmed.
    if (verdict == StepVerdict::Sender) {
        m_confirming.clear();
        return;
    }
    const bool held = verdict == StepVerdict::Holds;
    const bool wasHeld = rate == m_held;
    if (held == wasHeld) {
        if (!m_confirming.empty())
            m_next = m_confirming.front();
        return;
    }
    m_confirming.clear();
    ++m_resumes;
    const std::string before = m_limitedBy;
    // What each rate's latest run said, for the new bounds.
    const auto latest = [this](double r) {
        for (auto it = m_tried.rbegin(); it != m_tried.rend(); ++it)
            if (it->rate == r)
                return it->step.verdict;
        return StepVerdict::Holds;
    };
    if (wasHeld) {
        m_failed = rate;
        m_failedBy = VerdictName(verdict);
        m_held = 0;
        for (const Tried &t : m_tried)
            if (t.rate < rate && latest(t.rate) == StepVerdict::Holds)
                m_held = std::max(m_held, t.rate);
    } else {
        m_held = rate;
        m_failed.reset();
        for (const Tried &t : m_tried)
            if (t.rate > rate && latest(t.rate) != StepVerdict::Holds && (!m_failed || t.rate < *m_failed)) {
                m_failed = t.rate;
                m_failedBy = VerdictName(latest(t.rate));
            }
    }
    m_limitedBy.clear();
    if (m_resumes > MostResumes) {
        m_limitedBy = m_failed ? m_failedBy : before;
        return;
    }
    if (m_failed) {
        Bisect();
    } else if (m_settings.maxRate && m_held >= *m_settings.maxRate) {
        m_limitedBy = "max-rate";
    } else {
        m_next = m_settings.maxRate ? std::min(m_held * 2, *m_settings.maxRate) : m_held * 2;
    }
}

bool RateSearch::AtLatencyFloor(const Tried &latest) const
{
    if (latest.step.verdict != StepVerdict::Latency || !latest.step.p99Ms)
        return false;
    for (const Tried &t : m_tried) {
        // Not only the step at twice the rate: one noisy step between them
        // must not hide the same p99 at a quarter of it.
        const double ratio = std::max(t.rate, latest.rate) / std::min(t.rate, latest.rate);
        if (t.step.verdict == StepVerdict::Latency && t.step.p99Ms && ratio >= 1.8 &&
            Near(*t.step.p99Ms, *latest.step.p99Ms, FloorSpread))
            return true;
    }
    return false;
}

bool RateSearch::AllRuns(double rate, bool held) const
{
    int runs = 0;
    for (const Tried &t : m_tried) {
        if (t.rate != rate)
            continue;
        if ((t.step.verdict == StepVerdict::Holds) != held)
            return false;
        ++runs;
    }
    return runs > m_settings.confirm;
}

bool RateSearch::Confirmed() const
{
    if (m_limitedBy == "latency-floor")
        return true;
    if (m_settings.confirm <= 0 || m_limitedBy.empty() || m_next)
        return false;
    const bool held = m_held <= 0 || AllRuns(m_held, true);
    const bool failed = !FailedIsBoundary() || AllRuns(*m_failed, false);
    return held && failed && (m_held > 0 || FailedIsBoundary());
}

std::vector<double> SearchRates(RateSearch &search, const std::function<StepReport(double rate)> &runStep)
{
    std::vector<double> rates;
    while (const auto rate = search.NextRate()) {
        rates.push_back(*rate);
        search.Record(*rate, runStep(*rate));
    }
    return rates;
}
