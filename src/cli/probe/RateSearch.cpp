#include "cli/probe/RateSearch.h"

#include <algorithm>
#include <cmath>

namespace {
// Below one message a second a rate means nothing: the bisection of a
// collector that takes nothing ends there.
constexpr double LeastRate = 1;

const char *Name(StepVerdict verdict)
{
    switch (verdict) {
    case StepVerdict::Holds:
        return "holds";
    case StepVerdict::Loss:
        return "loss";
    case StepVerdict::Latency:
        return "latency";
    case StepVerdict::Sender:
        return "sender";
    }
    return "";
}
} // namespace

StepVerdict JudgeStep(const StepOutcome &outcome, const StepLimits &limits)
{
    if (outcome.senderShort && outcome.senderBound)
        return StepVerdict::Sender;
    if (outcome.sent <= 0 || static_cast<double>(outcome.lost) > limits.maxLoss * static_cast<double>(outcome.sent))
        return StepVerdict::Loss;
    if ((outcome.senderShort && outcome.stream) ||
        (limits.maxP99Ms && (!outcome.p99Ms || *outcome.p99Ms > *limits.maxP99Ms)))
        return StepVerdict::Latency;
    return StepVerdict::Holds;
}

RateSearch::RateSearch(const SearchSettings &settings) : m_settings(settings)
{
    m_next = m_settings.maxRate ? std::min(m_settings.startRate, *m_settings.maxRate) : m_settings.startRate;
}

void RateSearch::Record(double rate, StepVerdict verdict)
{
    m_next.reset();
    if (verdict == StepVerdict::Sender) {
        m_limitedBy = Name(verdict);
        return;
    }
    if (verdict == StepVerdict::Holds) {
        m_held = std::max(m_held, rate);
        if (!m_failed) {
            if (m_settings.maxRate && rate >= *m_settings.maxRate) {
                m_limitedBy = "max-rate";
                return;
            }
            const double doubled = rate * 2;
            m_next = m_settings.maxRate ? std::min(doubled, *m_settings.maxRate) : doubled;
            return;
        }
    } else if (!m_failed || rate <= *m_failed) {
        m_failed = rate;
        m_failedBy = Name(verdict);
    }
    Bisect();
}

void RateSearch::Bisect()
{
    const double failed = *m_failed;
    if (failed - m_held <= m_settings.precision * std::max(m_held, LeastRate) || failed <= LeastRate) {
        m_limitedBy = m_failedBy;
        return;
    }
    // Whole messages per second: a half message a second is not a rate anyone sets.
    const double middle = std::round((m_held + failed) / 2);
    if (middle <= m_held || middle >= failed) {
        m_limitedBy = m_failedBy;
        return;
    }
    m_next = middle;
}

std::vector<double> SearchRates(RateSearch &search, const std::function<StepVerdict(double rate)> &runStep)
{
    std::vector<double> rates;
    while (const auto rate = search.NextRate()) {
        rates.push_back(*rate);
        search.Record(*rate, runStep(*rate));
    }
    return rates;
}
