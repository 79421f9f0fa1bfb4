#include "metrics/SendMetricsFeed.h"

#include "metrics/ProgramMetrics.h"

void SendMetricsFeed::Start()
{
    m_metrics.Publish(SendMetrics(m_labels, {}, {}));
}

void SendMetricsFeed::Tick(const SendTick &tick)
{
    if (!tick.record)
        return;
    m_last = SendMetrics(m_labels, tick.total, *tick.record);
    m_metrics.Publish(m_last);
}

void SendMetricsFeed::End(const RunSummary &summary)
{
    m_last.labels = m_labels;
    AddSendSummary(m_last, summary);
    m_metrics.Publish(m_last);
}
