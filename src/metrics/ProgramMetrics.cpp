#include "metrics/ProgramMetrics.h"

#include <cmath>
#include <map>
#include <optional>

namespace Names = MetricNames;

MetricsSnapshot SendMetrics(const MetricLabels &labels, const SendCounters &totals, const SendSecond &second)
{
    MetricsSnapshot snapshot;
    snapshot.labels = labels;
    snapshot.SetCounter(Names::Sent, totals.sent);
    snapshot.SetCounter(Names::Failed, totals.failed);
    snapshot.SetCounter(Names::Refused, totals.refused);
    snapshot.SetCounter(Names::Bytes, totals.bytes);
    snapshot.SetCounter(Names::Connections, totals.opened);
    // As fast as possible has no rate to show, and the start no second yet.
    if (second.length > 0) {
        if (const std::optional<double> target = second.TargetRate(); target && std::isfinite(*target))
            snapshot.SetGauge(Names::TargetRate, *target);
        snapshot.SetGauge(Names::SendRate, second.Rate());
    }
    snapshot.SetGauge(Names::OpenConnections, static_cast<double>(totals.connections));
    return snapshot;
}

void AddSendSummary(MetricsSnapshot &snapshot, const RunSummary &summary)
{
    snapshot.SetCounter(Names::Sent, summary.sent);
    snapshot.SetCounter(Names::Failed, summary.failed);
    snapshot.SetCounter(Names::Refused, summary.refused + summary.refusedConnections);
    snapshot.SetCounter(Names::Bytes, summary.bytes);
    snapshot.SetCounter(Names::Connections, summary.connectionsUp + summary.reconnects);
    snapshot.SetGauge(Names::OpenConnections, 0);
}

void RunShardSeries::Add(MetricsSnapshot &snapshot, const std::vector<StreamReport> &streams)
{
    std::map<std::pair<std::string, std::uint64_t>, DeliveryFigures> own;
    std::optional<DeliveryFigures> other;
    const auto add = [](DeliveryFigures &sum, const DeliveryFigures &figures) {
        sum.received = CappedSum(sum.received, figures.received);
        sum.lost = CappedSum(sum.lost, figures.lost);
        sum.duplicates = CappedSum(sum.duplicates, figures.duplicates);
        sum.reordered = CappedSum(sum.reordered, figures.reordered);
    };
    for (const StreamReport &stream : streams) {
        std::pair<std::string, std::uint64_t> key{stream.run, stream.shard};
        // A pair once given a series keeps it, and one sent to "other" stays
        // there: no counter goes back.
        if (m_own.contains(key) || (m_own.size() < MaxSeries && m_own.insert(key).second))
            add(own[std::move(key)], stream.figures);
        else
            add(other ? *other : other.emplace(), stream.figures);
    }
    const auto series = [&snapshot](const RunShardLabels &of, const DeliveryFigures &figures) {
        snapshot.AddCounter(Names::Received, of, figures.received);
        snapshot.AddCounter(Names::Duplicates, of, figures.duplicates);
        snapshot.AddCounter(Names::Reordered, of, figures.reordered);
        snapshot.AddGauge(Names::Lost, of, static_cast<double>(figures.lost));
    };
    snapshot.ClearRunShards();
    for (const auto &[key, figures] : own)
        series({key.first, std::to_string(key.second)}, figures);
    if (other)
        series({std::string(Other), ""}, *other);
}

MetricsSnapshot RecvMetrics(const MetricLabels &labels, const ReceiveTally &tally, const DeliveryLedger &ledger,
                            RunShardSeries &series, double rate)
{
    MetricsSnapshot snapshot;
    snapshot.labels = labels;
    snapshot.SetCounter(Names::Refused, tally.source.refused);
    snapshot.SetCounter(Names::Bytes, tally.intake.bytes);
    snapshot.SetCounter(Names::Connections, tally.source.connections);
    // The tail against --expect is known only at the end.
    snapshot.SetGauge(Names::Lost, 0.0);
    snapshot.SetGauge(Names::ReceiveRate, rate);
    snapshot.SetGauge(Names::OpenConnections, static_cast<double>(tally.source.open));
    snapshot.latency = MetricsSnapshot::Latency{ledger.LatencySoFar(), ledger.LatencySumUs()};
    series.Add(snapshot, ledger.StreamCounts());
    return snapshot;
}

void AddRecvSummary(MetricsSnapshot &snapshot, const RecvSummary &summary, RunShardSeries &series)
{
    snapshot.SetCounter(Names::Refused, summary.loop.refused);
    snapshot.SetCounter(Names::Bytes, summary.intake.bytes);
    snapshot.SetCounter(Names::Connections, summary.loop.connections);
    snapshot.SetGauge(Names::Lost, static_cast<double>(summary.ledger.tailLost));
    snapshot.SetGauge(Names::OpenConnections, 0);
    series.Add(snapshot, summary.ledger.streams);
}

void RecvMetricsFeed::Second(double elapsed, const ReceiveTally &tally, bool)
{
    if (elapsed <= m_elapsed)
        return;
    Publish(tally, static_cast<double>(tally.intake.messages - m_messages) / (elapsed - m_elapsed));
    m_elapsed = elapsed;
    m_messages = tally.intake.messages;
}

void RecvMetricsFeed::Ended(const RecvSummary &summary)
{
    m_last.labels = m_labels;
    m_last.latency = MetricsSnapshot::Latency{m_ledger.LatencySoFar(), m_ledger.LatencySumUs()};
    AddRecvSummary(m_last, summary, m_series);
    m_sink.Publish(m_last);
}

void RecvMetricsFeed::Publish(const ReceiveTally &tally, double rate)
{
    m_last = RecvMetrics(m_labels, tally, m_ledger, m_series, rate);
    m_sink.Publish(m_last);
}

MetricsSnapshot ProbeMetrics(const MetricLabels &labels, const std::vector<ProbeStep> &steps, double stepSeconds)
{
    MetricsSnapshot snapshot;
    snapshot.labels = labels;
    std::uint64_t sent = 0, received = 0, lost = 0, duplicates = 0, reordered = 0, refused = 0;
    const auto count = [](std::int64_t value) { return static_cast<std::uint64_t>(std::max<std::int64_t>(value, 0)); };
    for (const ProbeStep &step : steps) {
        sent = CappedSum(sent, count(step.sent));
        received = CappedSum(received, count(step.received));
        lost = CappedSum(lost, count(step.lost));
        duplicates = CappedSum(duplicates, count(step.duplicates));
        reordered = CappedSum(reordered, count(step.reordered));
        refused = CappedSum(refused, count(step.refused));
    }
    snapshot.SetCounter(Names::Steps, static_cast<std::uint64_t>(steps.size()));
    snapshot.SetCounter(Names::Sent, sent);
    snapshot.SetCounter(Names::Received, received);
    snapshot.SetCounter(Names::Duplicates, duplicates);
    snapshot.SetCounter(Names::Reordered, reordered);
    snapshot.SetCounter(Names::Refused, refused);
    snapshot.SetGauge(Names::Lost, static_cast<double>(lost));
    if (!steps.empty()) {
        snapshot.SetGauge(Names::TargetRate, steps.back().rate);
        snapshot.SetGauge(Names::SendRate, static_cast<double>(steps.back().sent) / stepSeconds);
        snapshot.SetGauge(Names::ReceiveRate, static_cast<double>(steps.back().received) / stepSeconds);
    }
    return snapshot;
}
