#pragma once

#include "load/RunSummary.h"
#include "load/SendSeconds.h"
#include "metrics/MetricsSink.h"
#include "metrics/MetricsSnapshot.h"
#include "probe/ProbeResult.h"
#include "proof/DeliveryLedger.h"
#include "proof/ReceiveTally.h"
#include "report/RecvReport.h"
#include "report/RecvSeconds.h"

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The series each program shows: made on the engine's thread once a second
// (or a step), cheap, so the endpoint's thread only formats them.

// A sender at a second's mark: totals at the mark, second what it did
// (before the first, empty: no rates).
MetricsSnapshot SendMetrics(const MetricLabels &labels, const SendCounters &totals, const SendSecond &second);
// The run's end: the counts the summary has (and its JSON), none open.
void AddSendSummary(MetricsSnapshot &snapshot, const RunSummary &summary);

// The run and shard pairs of a receiver's stamps that have series of their
// own: the first MaxSeries seen keep theirs for the run, the rest add up
// under run_id "other", so stamps a peer makes up cannot mint series.
class RunShardSeries {
public:
    static constexpr std::size_t MaxSeries = 100;
    static constexpr std::string_view Other = "other";

    // The streams' received, lost, duplicates and reordered, by run and shard.
    void Add(MetricsSnapshot &snapshot, const std::vector<StreamReport> &streams);

private:
    std::set<std::pair<std::string, std::uint64_t>> m_own;
};

// A receiver now; rate: what arrived in the last second.
MetricsSnapshot RecvMetrics(const MetricLabels &labels, const ReceiveTally &tally, const DeliveryLedger &ledger,
                            RunShardSeries &series, double rate);
// The run's end: the summary's counts; the tail lost against --expect, which
// no stream is to blame for, has the program's labels.
void AddRecvSummary(MetricsSnapshot &snapshot, const RecvSummary &summary, RunShardSeries &series);

// A receiver's figures for the metrics endpoint: at the start, each second
// with the rate since the one before, and the summary's at the end.
class RecvMetricsFeed final : public RecvSink {
public:
    RecvMetricsFeed(MetricsSink &sink, MetricLabels labels, const DeliveryLedger &ledger)
        : m_sink(sink), m_labels(std::move(labels)), m_ledger(ledger)
    {}
    // A scrape before the first second finds the series at 0.
    void Started(const ReceiveTally &tally) override { Publish(tally, 0); }
    void Second(double elapsed, const ReceiveTally &tally, bool full) override;
    void Ended(const RecvSummary &summary) override;

private:
    void Publish(const ReceiveTally &tally, double rate);

    MetricsSink &m_sink;
    MetricLabels m_labels;
    const DeliveryLedger &m_ledger;
    RunShardSeries m_series;
    MetricsSnapshot m_last;
    double m_elapsed = 0;
    std::uint64_t m_messages = 0;
};

// A probe after its latest step: the steps' counts added up, and the
// latest one's rate asked and achieved.
MetricsSnapshot ProbeMetrics(const MetricLabels &labels, const std::vector<ProbeStep> &steps, double stepSeconds);
