#include "report/SendReport.h"

#include "common/TextHelpers.h"
#include "engine/Stamp.h"
#include "report/JsonText.h"
#include "report/ProgressLine.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// More streams than this are summed up in the summary line.
constexpr std::size_t StreamsNamed = 4;

QJsonValue Optional(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

std::string SpreadText(const RateSpread &spread)
{
    std::string text;
    if (spread.stddev) {
        text += "; over " + std::to_string(spread.fullSeconds) + " full seconds the rate varied by " +
                Fixed(*spread.stddev, 1) + " MPS (standard deviation";
        if (spread.stddevRatio)
            text +=
                ", " + Fixed(*spread.stddevRatio * 100, 2) + "% of the " + (spread.meanTarget ? "target" : "average");
        text += ")";
    }
    if (spread.TargetReached() == false)
        text += "; behind the target: " + Fixed(std::floor(*spread.achievedRatio * 100), 0) + "% of " +
                Grouped(std::llround(*spread.meanTarget)) + " MPS";
    if (spread.senderBoundSeconds > 0)
        text += "; the sender was the bottleneck in " + std::to_string(spread.senderBoundSeconds) +
                " full seconds (a core at its limit while behind the target)";
    return text;
}

// "60 s", "0.25 s"
std::string GapText(double seconds)
{
    if (seconds == std::floor(seconds))
        return Grouped(static_cast<std::int64_t>(seconds)) + " s";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    std::string digits = text;
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits + " s";
}

std::string UnacknowledgedText(std::int64_t count)
{
    return Grouped(count) + " not acknowledged by the receiver's system (unknown fate)";
}
} // namespace

std::string SendProgressLine(double elapsed, double duration, const SendCounters &now, std::int64_t lastSecond,
                             std::optional<double> asked)
{
    std::string line = Fixed(elapsed, 0) + " s" + (duration > 0 ? " of " + Fixed(duration, 0) + " s" : "") + ": " +
                       Grouped(now.sent) + " sent, " + Grouped(now.failed) + " failed, " + Grouped(lastSecond) + " MPS";
    if (asked && std::isfinite(*asked))
        line += " of " + Grouped(std::llround(*asked)) + " MPS asked";
    else if (asked)
        line += " (as fast as it goes)";
    return line;
}

std::string SummaryLine(const RunSummary &summary)
{
    std::string line = MessagesText(summary.sent) + " sent, " + Grouped(summary.failed) + " failed";
    // Sent means nothing when the receiver answered none of it: that comes first.
    if (summary.acknowledged && *summary.acknowledged == 0 && summary.sent > 0)
        line = "no message was acknowledged: " + line;
    if (summary.refused > 0)
        line += ", " + Grouped(summary.refused) + " refused";
    if (summary.skipped > 0)
        line += ", " + Grouped(summary.skipped) + " skipped (their time had passed)";
    if (summary.late > 0)
        line += ", " + Grouped(summary.late) + " late (sent over " + Fixed(LateSeconds, 1) + " s after their time)";
    if (summary.durationUnsent > 0)
        line += ", " + Grouped(summary.durationUnsent) + " due within --duration not sent (the sender fell behind)";
    if (summary.replayGapsCut > 0)
        line += ", " + Grouped(summary.replayGapsCut) + (summary.replayGapsCut == 1 ? " gap" : " gaps") + " cut to " +
                GapText(summary.replayMaxGap) + " (--max-gap)";
    if (summary.replayWentBack > 0)
        line += ", " + Grouped(summary.replayWentBack) + (summary.replayWentBack == 1 ? " line" : " lines") +
                " went back in time (sent at once)";
    if (summary.replayJoinsSplit > 0)
        line += ", " + Grouped(summary.replayJoinsSplit) + (summary.replayJoinsSplit == 1 ? " message" : " messages") +
                " of joined lines split at 64 KiB";
    line += " in " + Fixed(summary.elapsedSeconds, 3) + " s";
    if (const auto rate = AverageRate(summary))
        line += ": " + Grouped(std::llround(*rate)) + " MPS average";
    line += ", " + Grouped(summary.bytes) + " bytes (framing included)";
    if (!summary.tlsVersion.empty())
        line += ", over " + summary.tlsVersion + " with " + summary.tlsCipher;
    const auto planned = static_cast<std::int64_t>(summary.connections.size());
    if (summary.connectionsUp < planned)
        line += ", " + Grouped(summary.connectionsUp) + " of " + Grouped(planned) + " connections came up";
    else if (planned > 1)
        line += ", " + Grouped(planned) + " connections";
    if (summary.threads > 1)
        line += ", " + std::to_string(summary.threads) + " threads";
    if (summary.reconnects > 0)
        line += ", " + Grouped(summary.reconnects) + " reconnected";
    if (summary.longestOutage > 0)
        line += summary.connectionsUp == 0 ? ", never connected"
                                           : ", longest outage " + Fixed(summary.longestOutage, 3) + " s";
    if (summary.acknowledged)
        line += ", " + Grouped(*summary.acknowledged) + " acknowledged";
    if (summary.unknownFate > 0)
        line += ", " + UnacknowledgedText(summary.unknownFate);
    if (summary.drops > 0)
        line += ", " + Grouped(summary.drops) + " dropped and opened again";
    if (const RunSummary::IdleFigures &idle = summary.idle; idle.asked > 0)
        line += ", idle connections: " + Grouped(idle.opened) + " of " + Grouped(idle.asked) + " opened, " +
                Grouped(idle.broken) + " broken, " + Grouped(idle.openAtEnd) + " open at the end";
    if (summary.streams.size() > StreamsNamed) {
        std::uint64_t stamped = 0;
        for (const RunSummary::StampedStream &stream : summary.streams)
            stamped += stream.lastSeq;
        line += "; " + GroupedCount(stamped) + " stamped as run " + summary.runId + " streams " +
                std::to_string(summary.streams.front().stream) + ".." + std::to_string(summary.streams.back().stream);
    } else {
        for (const RunSummary::StampedStream &stream : summary.streams)
            line += "; " + GroupedCount(stream.lastSeq) + " stamped as run " + summary.runId + " stream " +
                    std::to_string(stream.stream);
    }
    return line + SpreadText(summary.spread);
}

std::vector<std::string> ConnectionLines(const RunSummary &summary)
{
    std::vector<std::string> lines;
    for (const RunSummary::ConnectionFigures &c : summary.connections)
        if (c.reconnects > 0 || c.unknownFate > 0)
            lines.push_back("connection " + std::to_string(c.index + 1) + ": " + MessagesText(c.sent) + " sent, " +
                            Grouped(c.reconnects) + " reconnected, " + UnacknowledgedText(c.unknownFate));
    return lines;
}

std::vector<std::string> TargetLines(const RunSummary &summary)
{
    std::vector<std::string> lines;
    for (const RunSummary::TargetFigures &t : summary.targets) {
        std::string line = "to " + t.target + ":" + std::to_string(t.port) + ": " + MessagesText(t.sent) + " sent, " +
                           std::to_string(t.failed) + " failed";
        if (t.refused > 0)
            line += ", " + std::to_string(t.refused) + " refused";
        if (t.reconnects > 0)
            line += ", " + std::to_string(t.reconnects) + " reconnected";
        if (t.unknownFate > 0)
            line += ", " + UnacknowledgedText(t.unknownFate);
        if (t.drops > 0)
            line += ", " + std::to_string(t.drops) + " dropped and opened again";
        if (t.streams.size() == 1)
            line += "; stream " + std::to_string(t.streams.front());
        else if (!t.streams.empty())
            line += "; " + std::to_string(t.streams.size()) + " streams";
        lines.push_back(line);
    }
    return lines;
}

std::string SummaryJson(const RunSummary &summary, const Options &options)
{
    QJsonObject json;
    json.insert(QStringLiteral("sent"), static_cast<qint64>(summary.sent));
    json.insert(QStringLiteral("failed"), static_cast<qint64>(summary.failed));
    json.insert(QStringLiteral("refused"), static_cast<qint64>(summary.refused));
    json.insert(QStringLiteral("elapsed_seconds"), summary.elapsedSeconds);
    const auto rate = AverageRate(summary);
    json.insert(QStringLiteral("average_mps"), rate ? QJsonValue(*rate) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("bytes"), static_cast<qint64>(summary.bytes));
    json.insert(QStringLiteral("transport"), JsonText(TransportName(TransportOf(options))));
    if (UsesTls(options) && !IsRelp(options.transport)) {
        // Null when no handshake succeeded.
        const auto text = [](const std::string &value) {
            return value.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(JsonText(value));
        };
        json.insert(QStringLiteral("tls_version"), text(summary.tlsVersion));
        json.insert(QStringLiteral("tls_cipher"), text(summary.tlsCipher));
    }
    json.insert(QStringLiteral("format"), JsonText(MessageFormatName(options.messageFormat.format)));
    json.insert(QStringLiteral("framing"), JsonText(FramingName(StreamFramingOf(options))));
    json.insert(QStringLiteral("target"), JsonText(options.target));
    json.insert(QStringLiteral("port"), options.port);
    // A Unix socket has a path in place of a host and port.
    if (UsesUnixSocket(options)) {
        json.insert(QStringLiteral("socket"), JsonText(options.socketPath));
        json.insert(QStringLiteral("target"), QJsonValue(QJsonValue::Null));
        json.insert(QStringLiteral("port"), QJsonValue(QJsonValue::Null));
    }
    if (!summary.runId.empty()) {
        json.insert(QStringLiteral("run_id"), JsonText(summary.runId));
        QJsonArray streams;
        for (const RunSummary::StampedStream &stream : summary.streams) {
            QJsonObject object;
            object.insert(QStringLiteral("stream"), static_cast<qint64>(stream.stream));
            object.insert(QStringLiteral("shard"), static_cast<qint64>(stream.stream / StampFormat::StreamsPerShard));
            object.insert(QStringLiteral("last_seq"), static_cast<qint64>(stream.lastSeq));
            streams.append(object);
        }
        json.insert(QStringLiteral("streams"), streams);
    }
    if (options.pace == Pace::Rate)
        json.insert(QStringLiteral("load"), JsonText(ShardShape(options).Text() + (options.poisson ? " poisson" : "")));
    if (options.pace == Pace::Replay) {
        QJsonObject replay;
        replay.insert(QStringLiteral("file"), JsonText(options.replayFile));
        replay.insert(QStringLiteral("speed"),
                      options.replaySpeed > 0 ? QJsonValue(options.replaySpeed) : QJsonValue(QStringLiteral("max")));
        replay.insert(QStringLiteral("loop"), options.replayLoop);
        replay.insert(QStringLiteral("rewrite_time"), options.replayRewriteTime);
        replay.insert(QStringLiteral("max_gap_seconds"), options.replayMaxGap);
        replay.insert(QStringLiteral("gaps_cut"), static_cast<qint64>(summary.replayGapsCut));
        replay.insert(QStringLiteral("went_back"), static_cast<qint64>(summary.replayWentBack));
        replay.insert(QStringLiteral("joins_split"), static_cast<qint64>(summary.replayJoinsSplit));
        json.insert(QStringLiteral("replay"), replay);
    }
    json.insert(QStringLiteral("shard"), static_cast<qint64>(options.shard.index));
    json.insert(QStringLiteral("shards"), static_cast<qint64>(options.shard.count));
    const RateSpread &spread = summary.spread;
    json.insert(QStringLiteral("full_seconds"), static_cast<qint64>(spread.fullSeconds));
    json.insert(QStringLiteral("target_mps"), Optional(spread.meanTarget));
    json.insert(QStringLiteral("rate_stddev_mps"), Optional(spread.stddev));
    json.insert(QStringLiteral("rate_stddev_ratio"), Optional(spread.stddevRatio));
    const std::optional<bool> reached = spread.TargetReached();
    json.insert(QStringLiteral("target_reached"), reached ? QJsonValue(*reached) : QJsonValue(QJsonValue::Null));
    json.insert(QStringLiteral("achieved_ratio"), Optional(spread.achievedRatio));
    json.insert(QStringLiteral("late"), static_cast<qint64>(summary.late));
    json.insert(QStringLiteral("skipped"), static_cast<qint64>(summary.skipped));
    json.insert(QStringLiteral("duration_unsent"), static_cast<qint64>(summary.durationUnsent));
    json.insert(QStringLiteral("rate_sender_bound_seconds"), static_cast<qint64>(spread.senderBoundSeconds));
    json.insert(QStringLiteral("rate_sender_bottleneck"), spread.senderBoundSeconds > 0);
    json.insert(QStringLiteral("threads"), summary.threads);
    if (IsRelp(options.transport)) {
        json.insert(QStringLiteral("acknowledged"), static_cast<qint64>(summary.acknowledged.value_or(0)));
        json.insert(QStringLiteral("relp_window"),
                    options.relpWindow > 0 ? QJsonValue(options.relpWindow) : QJsonValue(QJsonValue::Null));
    }
    if (IsStream(options.transport)) {
        json.insert(QStringLiteral("unknown_fate"), static_cast<qint64>(summary.unknownFate));
        json.insert(QStringLiteral("reconnects"), static_cast<qint64>(summary.reconnects));
        json.insert(QStringLiteral("longest_outage_seconds"), summary.longestOutage);
        json.insert(QStringLiteral("connections_up"), static_cast<qint64>(summary.connectionsUp));
        QJsonArray connections;
        for (const RunSummary::ConnectionFigures &c : summary.connections) {
            QJsonObject object;
            object.insert(QStringLiteral("connection"), c.index + 1);
            object.insert(QStringLiteral("sent"), static_cast<qint64>(c.sent));
            object.insert(QStringLiteral("unknown_fate"), static_cast<qint64>(c.unknownFate));
            object.insert(QStringLiteral("reconnects"), static_cast<qint64>(c.reconnects));
            connections.append(object);
        }
        json.insert(QStringLiteral("connections"), connections);
    }
    // Keys of the load flags only when given, so other runs' output stays as it was.
    if (options.dropChance > 0)
        json.insert(QStringLiteral("dropped_connections"), static_cast<qint64>(summary.drops));
    if (options.idleConnections > 0) {
        QJsonObject idle;
        idle.insert(QStringLiteral("asked"), static_cast<qint64>(options.idleConnections));
        idle.insert(QStringLiteral("opened"), static_cast<qint64>(summary.idle.opened));
        idle.insert(QStringLiteral("broken"), static_cast<qint64>(summary.idle.broken));
        idle.insert(QStringLiteral("open_at_end"), static_cast<qint64>(summary.idle.openAtEnd));
        json.insert(QStringLiteral("idle_connections"), idle);
    }
    if (DestinationCount(options) > 1) {
        QJsonArray targets;
        for (const RunSummary::TargetFigures &t : summary.targets) {
            QJsonObject object;
            object.insert(QStringLiteral("target"), JsonText(t.target));
            object.insert(QStringLiteral("port"), t.port);
            object.insert(QStringLiteral("sent"), static_cast<qint64>(t.sent));
            object.insert(QStringLiteral("failed"), static_cast<qint64>(t.failed));
            if (IsStream(options.transport)) {
                object.insert(QStringLiteral("unknown_fate"), static_cast<qint64>(t.unknownFate));
                object.insert(QStringLiteral("reconnects"), static_cast<qint64>(t.reconnects));
                object.insert(QStringLiteral("connections_up"), static_cast<qint64>(t.connectionsUp));
            } else {
                object.insert(QStringLiteral("refused"), static_cast<qint64>(t.refused));
            }
            if (options.dropChance > 0)
                object.insert(QStringLiteral("dropped_connections"), static_cast<qint64>(t.drops));
            if (!summary.runId.empty()) {
                QJsonArray streams;
                for (const std::uint64_t stream : t.streams)
                    streams.append(static_cast<qint64>(stream));
                object.insert(QStringLiteral("streams"), streams);
            }
            targets.append(object);
        }
        json.insert(QStringLiteral("targets"), targets);
    }
    json.insert(QStringLiteral("stopped_by"), JsonText(summary.stoppedBy));
    if (!summary.error.empty())
        json.insert(QStringLiteral("error"), JsonText(summary.error));
    json.insert(QStringLiteral("exit_status"), summary.exitStatus);
    return JsonLine(json);
}
