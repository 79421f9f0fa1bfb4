#include "report/StatsRecords.h"

#include <QJsonValue>

#include <cmath>

namespace {
QJsonValue Optional(const std::optional<double> &value)
{
    return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}
} // namespace

QJsonObject SendSecondJson(const SendSecond &record)
{
    QJsonObject json;
    json.insert(QStringLiteral("second"), static_cast<qint64>(record.second));
    json.insert(QStringLiteral("elapsed"), record.elapsed);
    json.insert(QStringLiteral("epoch"), record.epoch);
    json.insert(QStringLiteral("length"), record.length);
    json.insert(QStringLiteral("full"), record.full);
    json.insert(QStringLiteral("target_mps"), Optional(record.TargetRate()));
    json.insert(QStringLiteral("sent"), static_cast<qint64>(record.sent));
    json.insert(QStringLiteral("mps"), record.Rate());
    json.insert(QStringLiteral("failed"), static_cast<qint64>(record.failed));
    json.insert(QStringLiteral("unknown_fate"), static_cast<qint64>(record.unknownFate));
    json.insert(QStringLiteral("connections"), static_cast<qint64>(record.connections));
    json.insert(QStringLiteral("blocked_seconds"), record.blockedSeconds);
    json.insert(QStringLiteral("cpu"), record.busiestCpu);
    json.insert(QStringLiteral("sender_bound"), record.SenderBound());
    return json;
}
