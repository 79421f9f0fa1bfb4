#include "report/RecvSeconds.h"

#include "report/RecvReport.h"
#include "report/StatsFile.h"

#include <chrono>

namespace {
// The counts of a stats record: a second's record has what arrived in it
// (perSecond) or the level at its end; an interim record has the totals.
struct Field {
    const char *second;
    const char *interim;
    std::uint64_t (*read)(const ReceiveTally &);
    bool perSecond;
};

constexpr Field Fields[] = {
    {"received", "total_received", [](const ReceiveTally &t) { return t.intake.messages; }, true},
    {"bytes", "total_bytes", [](const ReceiveTally &t) { return t.intake.bytes; }, true},
    {"stamped", "total_stamped", [](const ReceiveTally &t) { return t.intake.stamped; }, true},
    {"lost_so_far", "lost_so_far", [](const ReceiveTally &t) { return t.lostSoFar; }, false},
    {"connections", "connections", [](const ReceiveTally &t) { return t.source.open; }, false},
};

qint64 Count(std::uint64_t value)
{
    return static_cast<qint64>(value);
}

double Epoch()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
} // namespace

void RecvSeconds::Second(double elapsed, const ReceiveTally &tally, bool full)
{
    const double length = elapsed - m_previousElapsed;
    if (length <= 0)
        return;
    const std::uint64_t messages = tally.intake.messages - m_previous.intake.messages;
    QJsonObject json;
    json.insert(QStringLiteral("second"), static_cast<qint64>(++m_records));
    json.insert(QStringLiteral("elapsed"), elapsed);
    json.insert(QStringLiteral("epoch"), Epoch());
    json.insert(QStringLiteral("length"), length);
    json.insert(QStringLiteral("full"), full);
    json.insert(QStringLiteral("mps"), static_cast<double>(messages) / length);
    for (const Field &field : Fields)
        json.insert(QLatin1String(field.second),
                    Count(field.read(tally) - (field.perSecond ? field.read(m_previous) : 0)));
    m_file.Write(json);
    m_previous = tally;
    m_written = tally;
    m_previousElapsed = elapsed;
}

void RecvSeconds::Between(double elapsed, const ReceiveTally &tally)
{
    bool changed = false;
    for (const Field &field : Fields)
        changed = changed || field.read(tally) != field.read(m_written);
    if (!changed)
        return;
    QJsonObject json;
    json.insert(QStringLiteral("interim"), true);
    json.insert(QStringLiteral("elapsed"), elapsed);
    json.insert(QStringLiteral("epoch"), Epoch());
    for (const Field &field : Fields)
        json.insert(QLatin1String(field.interim), Count(field.read(tally)));
    m_file.Write(json);
    m_written = tally;
}

void RecvProgress::Second(double, const ReceiveTally &tally, bool full)
{
    if (!full)
        return;
    const std::uint64_t messages = tally.intake.messages;
    m_out << RecvProgressLine(messages, tally.lostSoFar, messages - m_messages) << std::endl;
    m_messages = messages;
}
