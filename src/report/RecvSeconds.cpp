#include "report/RecvSeconds.h"

#include "report/StatsFile.h"

void RecvSeconds::Record(double elapsed, double epoch, const RecvCounters &counters, bool full)
{
    const double length = elapsed - m_previousElapsed;
    if (length <= 0)
        return;
    const auto count = [](std::uint64_t value) { return static_cast<qint64>(value); };
    const std::uint64_t messages = counters.messages - m_previous.messages;
    QJsonObject json;
    json.insert(QStringLiteral("second"), static_cast<qint64>(++m_records));
    json.insert(QStringLiteral("elapsed"), elapsed);
    json.insert(QStringLiteral("epoch"), epoch);
    json.insert(QStringLiteral("length"), length);
    json.insert(QStringLiteral("full"), full);
    json.insert(QStringLiteral("received"), count(messages));
    json.insert(QStringLiteral("mps"), static_cast<double>(messages) / length);
    json.insert(QStringLiteral("bytes"), count(counters.bytes - m_previous.bytes));
    json.insert(QStringLiteral("stamped"), count(counters.stamped - m_previous.stamped));
    json.insert(QStringLiteral("lost_so_far"), count(counters.lostSoFar));
    json.insert(QStringLiteral("connections"), count(counters.connections));
    m_file.Write(json);
    m_previous = counters;
    m_written = counters;
    m_previousElapsed = elapsed;
}

void RecvSeconds::RecordInterim(double elapsed, double epoch, const RecvCounters &counters)
{
    if (counters.messages == m_written.messages && counters.lostSoFar == m_written.lostSoFar &&
        counters.connections == m_written.connections)
        return;
    const auto count = [](std::uint64_t value) { return static_cast<qint64>(value); };
    QJsonObject json;
    json.insert(QStringLiteral("interim"), true);
    json.insert(QStringLiteral("elapsed"), elapsed);
    json.insert(QStringLiteral("epoch"), epoch);
    json.insert(QStringLiteral("total_received"), count(counters.messages));
    json.insert(QStringLiteral("total_bytes"), count(counters.bytes));
    json.insert(QStringLiteral("total_stamped"), count(counters.stamped));
    json.insert(QStringLiteral("lost_so_far"), count(counters.lostSoFar));
    json.insert(QStringLiteral("connections"), count(counters.connections));
    m_file.Write(json);
    m_written = counters;
}
