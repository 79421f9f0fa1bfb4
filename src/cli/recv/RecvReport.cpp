#include "cli/recv/RecvReport.h"

#include "cli/common/JsonText.h"
#include "cli/common/ProgressLine.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <cstdio>

namespace {
constexpr std::size_t StreamLinesUpTo = 16;
constexpr std::size_t ShardLinesUpTo = 64;

std::string Fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

double AverageRate(const RecvSummary &summary)
{
    const double span = summary.activeSeconds > 0 ? summary.activeSeconds : summary.elapsedSeconds;
    return span > 0 ? static_cast<double>(summary.intake.messages) / span : 0;
}

std::string FiguresText(const DeliveryFigures &figures)
{
    std::string text = std::to_string(figures.received) + " received, " + std::to_string(figures.lost) + " lost, " +
                       std::to_string(figures.duplicates) + " duplicated, " + std::to_string(figures.reordered) +
                       " out of order";
    if (figures.latency.samples > 0)
        text += "; latency p50 " + std::to_string(figures.latency.p50) + " us, p99 " +
                std::to_string(figures.latency.p99) + " us, max " + std::to_string(figures.latency.max) + " us";
    return text;
}

void AppendCount(std::string &text, std::uint64_t count, const char *what)
{
    if (count > 0)
        text += ", " + std::to_string(count) + " " + what;
}

QJsonValue Number(std::uint64_t value)
{
    return QJsonValue(static_cast<qint64>(value));
}

QJsonObject FiguresJson(const DeliveryFigures &figures)
{
    QJsonObject object;
    object["received"] = Number(figures.received);
    object["lost"] = Number(figures.lost);
    object["duplicates"] = Number(figures.duplicates);
    object["reordered"] = Number(figures.reordered);
    QJsonObject latency;
    latency["p50"] = Number(figures.latency.p50);
    latency["p99"] = Number(figures.latency.p99);
    latency["max"] = Number(figures.latency.max);
    latency["samples"] = Number(figures.latency.samples);
    object["latency_us"] = latency;
    return object;
}

} // namespace

std::string RecvProgressLine(std::uint64_t received, std::uint64_t lastSecond)
{
    return ProgressLine(static_cast<std::int64_t>(received), static_cast<std::int64_t>(lastSecond), "received");
}

std::string RecvSummaryLine(const RecvSummary &summary)
{
    const IntakeCounts &intake = summary.intake;
    std::string text = MessagesText(static_cast<std::int64_t>(intake.messages)) + " received in " +
                       Fixed(summary.elapsedSeconds, 3) + " s: " + Fixed(std::round(AverageRate(summary)), 0) +
                       " MPS average, " + std::to_string(intake.bytes) +
                       " bytes; stamped: " + FiguresText(summary.ledger.totals);
    if (summary.ledger.tailLost > 0)
        text += " (" + std::to_string(summary.ledger.tailLost) + " of the lost at the end of the streams)";
    AppendCount(text, summary.loop.frames.malformed, "malformed frames");
    AppendCount(text, summary.loop.frames.oversize, "oversize frames");
    AppendCount(text, intake.malformedStamps, "malformed stamps");
    AppendCount(text, summary.ledger.untracked, "stamps of streams over the limit");
    AppendCount(text, summary.loop.refused, "refused connections");
    AppendCount(text, summary.loop.failedHandshakes, "failed TLS handshakes");
    if (summary.loop.failedHandshakes > 0)
        text += " (the last: " + summary.loop.lastHandshakeFailure + ")";
    return text;
}

std::vector<std::string> RecvDetailLines(const RecvSummary &summary)
{
    std::vector<std::string> lines;
    const LedgerReport &ledger = summary.ledger;
    if (ledger.streams.size() <= StreamLinesUpTo) {
        for (const StreamReport &stream : ledger.streams)
            lines.push_back("  run " + stream.run + " stream " + std::to_string(stream.stream) + " (shard " +
                            std::to_string(stream.shard) + "): " + FiguresText(stream.figures));
    } else if (ledger.shards.size() > 1 && ledger.shards.size() <= ShardLinesUpTo) {
        for (const ShardReport &shard : ledger.shards)
            lines.push_back("  shard " + std::to_string(shard.shard) + " (" + std::to_string(shard.streams) +
                            " streams): " + FiguresText(shard.figures));
    }
    return lines;
}

std::string RecvSummaryJson(const RecvSummary &summary)
{
    const LedgerReport &ledger = summary.ledger;
    QJsonObject json = FiguresJson(ledger.totals);
    json["tail_lost"] = Number(ledger.tailLost);
    json["expect"] = Number(summary.expect);
    json["messages"] = Number(summary.intake.messages);
    json["bytes"] = Number(summary.intake.bytes);
    json["stamped"] = Number(summary.intake.stamped);
    json["malformed_stamps"] = Number(summary.intake.malformedStamps);
    json["untracked_stamps"] = Number(ledger.untracked);
    json["frames"] = Number(summary.loop.frames.frames);
    json["malformed_frames"] = Number(summary.loop.frames.malformed);
    json["oversize_frames"] = Number(summary.loop.frames.oversize);
    json["connections"] = Number(summary.loop.connections);
    json["refused_connections"] = Number(summary.loop.refused);
    json["tls_handshakes"] = Number(summary.loop.handshakes);
    json["tls_failed"] = Number(summary.loop.failedHandshakes);
    json["tls_timeouts"] = Number(summary.loop.handshakeTimeouts);
    if (summary.loop.failedHandshakes > 0)
        json["tls_last_failure"] = JsonText(summary.loop.lastHandshakeFailure);
    json["elapsed_seconds"] = summary.elapsedSeconds;
    json["active_seconds"] = summary.activeSeconds;
    json["average_mps"] = std::round(AverageRate(summary) * 10) / 10;
    json["source"] = JsonText(summary.source);
    json["stopped_by"] = JsonText(summary.stoppedBy);
    if (!summary.error.empty())
        json["error"] = JsonText(summary.error);
    json["exit_status"] = summary.exitStatus;
    QJsonArray streams;
    for (const StreamReport &stream : ledger.streams) {
        QJsonObject object = FiguresJson(stream.figures);
        object["run"] = JsonText(stream.run);
        object["stream"] = Number(stream.stream);
        object["shard"] = Number(stream.shard);
        object["highest_seq"] = Number(stream.highestSeq);
        streams.append(object);
    }
    json["streams"] = streams;
    QJsonArray shards;
    for (const ShardReport &shard : ledger.shards) {
        QJsonObject object = FiguresJson(shard.figures);
        object["shard"] = Number(shard.shard);
        object["streams"] = Number(shard.streams);
        shards.append(object);
    }
    json["shards"] = shards;
    return JsonLine(json);
}
