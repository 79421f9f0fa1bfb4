#pragma once

#include "load/SendRun.h"
#include "metrics/MetricsSink.h"

// A send run's series for the metrics endpoint: at 0 before the first
// second, then each second's, and the summary's at the end.
class SendMetricsFeed final : public SendSink {
public:
    SendMetricsFeed(MetricsSink &metrics, MetricLabels labels) : m_metrics(metrics), m_labels(std::move(labels)) {}
    void Start() override;
    void Tick(const SendTick &tick) override;
    // Once the run's summary is final, started or not.
    void End(const RunSummary &summary);

private:
    MetricsSink &m_metrics;
    MetricLabels m_labels;
    MetricsSnapshot m_last;
};
