#pragma once

#include "proof/LatencyHistogram.h"

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every series of a program carries these, so one Prometheus server tells
// the senders of a sharded run and their receiver apart.
struct MetricLabels {
    std::string runId;
    std::string shard;
    std::string transport;
};

// A series' own run and shard, in place of its program's: a receiver's
// figures by the stamps they came from.
struct RunShardLabels {
    std::string runId;
    std::string shard;
    auto operator<=>(const RunShardLabels &) const = default;
};

// What a program shows on its metrics endpoint at one instant. Counters only
// grow over a run and stop at CountCap; gauges go either way.
struct MetricsSnapshot {
    struct Counter {
        std::string_view name; // with its _total, one of MetricNames
        std::uint64_t value = 0;
        std::optional<RunShardLabels> of;
    };
    struct Gauge {
        std::string_view name;
        double value = 0;
        std::optional<RunShardLabels> of;
    };
    struct Latency {
        LatencyHistogram<std::uint64_t> histogram;
        std::uint64_t sumUs = 0;
    };

    MetricLabels labels;
    std::vector<Counter> counters;
    std::vector<Gauge> gauges;
    std::optional<Latency> latency;

    // Replaces the series of that name with the snapshot's labels, or adds
    // it; a negative count is 0, and a counter never falls below what it showed.
    void SetCounter(std::string_view name, std::int64_t value);
    void SetCounter(std::string_view name, std::uint64_t value);
    void SetGauge(std::string_view name, double value);
    // Adds a series of a run and shard; no two of a name may have the same.
    void AddCounter(std::string_view name, const RunShardLabels &of, std::uint64_t value);
    void AddGauge(std::string_view name, const RunShardLabels &of, double value);
    // Drops every series of a run and shard.
    void ClearRunShards();
};

// The series every program may show, and what each means: one vocabulary,
// so a sender's and a receiver's series of a name mean the same.
namespace MetricNames {
inline constexpr std::string_view Sent = "quillon_sent_total";
inline constexpr std::string_view Failed = "quillon_failed_total";
inline constexpr std::string_view Received = "quillon_received_total";
inline constexpr std::string_view Duplicates = "quillon_duplicates_total";
inline constexpr std::string_view Reordered = "quillon_reordered_total";
inline constexpr std::string_view Refused = "quillon_refused_total";
inline constexpr std::string_view Bytes = "quillon_bytes_total";
inline constexpr std::string_view Connections = "quillon_connections_total";
inline constexpr std::string_view Steps = "quillon_probe_steps_total";
// A gauge: a late message fills a gap, so the figure can fall.
inline constexpr std::string_view Lost = "quillon_lost";
inline constexpr std::string_view TargetRate = "quillon_target_rate";
inline constexpr std::string_view SendRate = "quillon_send_rate";
inline constexpr std::string_view ReceiveRate = "quillon_receive_rate";
inline constexpr std::string_view OpenConnections = "quillon_open_connections";
inline constexpr std::string_view Latency = "quillon_latency_seconds";
// The HELP line of a name above.
std::string_view Help(std::string_view name);
} // namespace MetricNames
