#include "report/SendSinks.h"

#include "report/SendReport.h"
#include "report/StatsRecords.h"

void SendProgressSink::Tick(const SendTick &tick)
{
    if (tick.last)
        return;
    std::optional<double> asked;
    if (tick.total.target)
        asked = *tick.total.target - m_target.value_or(0);
    m_out << SendProgressLine(tick.elapsed, m_duration, tick.total, tick.total.sent - m_sent, asked) << std::endl;
    m_sent = tick.total.sent;
    m_target = tick.total.target;
}

void StatsFileSink::Tick(const SendTick &tick)
{
    if (tick.record)
        m_file.Write(SendSecondJson(*tick.record));
}
