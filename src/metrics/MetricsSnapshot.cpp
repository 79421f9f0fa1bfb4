#include "metrics/MetricsSnapshot.h"

#include "proof/DeliveryLedger.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<std::string_view, std::string_view>, 15> Helps{{
    {MetricNames::Sent, "Messages sent."},
    {MetricNames::Failed, "Messages that could not be sent."},
    {MetricNames::Received, "Distinct stamped messages received."},
    {MetricNames::Duplicates, "Arrivals of a sequence number already received."},
    {MetricNames::Reordered, "First arrivals of a number below the highest one of its stream then."},
    {MetricNames::Refused, "Datagrams and connections refused."},
    {MetricNames::Bytes, "Message bytes sent or received."},
    {MetricNames::Connections, "Sessions opened or accepted."},
    {MetricNames::Steps, "Probe steps judged."},
    {MetricNames::Lost,
     "Messages lost so far: gaps below each stream's highest number; at the end also the shortfall against the "
     "expected count."},
    {MetricNames::TargetRate, "Messages per second asked for."},
    {MetricNames::SendRate, "Messages per second sent in the last second (probe: in the last step)."},
    {MetricNames::ReceiveRate, "Messages per second received in the last second (probe: in the last step)."},
    {MetricNames::OpenConnections, "Sessions open now."},
    {MetricNames::Latency, "Seconds from a message's stamp to its arrival."},
}};

template <typename Series, typename Value> void Set(std::vector<Series> &all, std::string_view name, Value value)
{
    const auto found =
        std::find_if(all.begin(), all.end(), [name](const Series &s) { return s.name == name && !s.of; });
    if (found != all.end())
        found->value = value;
    else
        all.push_back({name, value, std::nullopt});
}

template <typename Series> void DropRunShards(std::vector<Series> &all)
{
    all.erase(std::remove_if(all.begin(), all.end(), [](const Series &s) { return s.of.has_value(); }), all.end());
}
} // namespace

void MetricsSnapshot::SetCounter(std::string_view name, std::int64_t value)
{
    SetCounter(name, static_cast<std::uint64_t>(std::max<std::int64_t>(value, 0)));
}

void MetricsSnapshot::SetCounter(std::string_view name, std::uint64_t value)
{
    // The summary may count less than the seconds did (messages still queued
    // at the end become of unknown fate): a scraper reads a fall as a reset.
    const auto shown =
        std::find_if(counters.begin(), counters.end(), [name](const Counter &c) { return c.name == name && !c.of; });
    if (shown != counters.end())
        value = std::max(value, shown->value);
    Set(counters, name, std::min(value, CountCap));
}

void MetricsSnapshot::SetGauge(std::string_view name, double value)
{
    Set(gauges, name, value);
}

void MetricsSnapshot::AddCounter(std::string_view name, const RunShardLabels &of, std::uint64_t value)
{
    counters.push_back({name, std::min(value, CountCap), of});
}

void MetricsSnapshot::AddGauge(std::string_view name, const RunShardLabels &of, double value)
{
    gauges.push_back({name, value, of});
}

void MetricsSnapshot::ClearRunShards()
{
    DropRunShards(counters);
    DropRunShards(gauges);
}

std::string_view MetricNames::Help(std::string_view name)
{
    for (const auto &[known, help] : Helps)
        if (known == name)
            return help;
    return {};
}
