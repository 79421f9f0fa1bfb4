#include "load/ThreadChannel.h"

#include "load/DatagramChannel.h"
#include "load/RelpChannel.h"
#include "load/SpreadChannel.h"
#include "load/StreamChannel.h"

#include <algorithm>
#include <cmath>

namespace {
// A thread's part of the sessions to one destination, and the run's number
// of the first of them (over UDP: of its stream).
struct DestinationPart {
    const Destination &to;
    int first = 0;
    int connections = 1;
    int idleConnections = 0;
};

// What every channel of a thread is made with.
struct ChannelGround {
    const LoadPlan &plan;
    std::shared_ptr<const TlsClientContext> tls;
    SendChannel::Clock::time_point runStart;
    const SendChannel::Say &say;
};

RelpPlan RelpPlanOf(const Options &options, const DestinationPart &part, const std::string &runId)
{
    RelpPlan plan;
    plan.client.host = part.to.target;
    plan.client.port = part.to.port;
    plan.client.window = options.relpWindow;
    plan.client.timeoutSeconds = static_cast<int>(std::ceil(options.connectTimeout));
    plan.client.transport = options.transport;
    plan.client.caFile = options.tls.caFile;
    plan.client.certFile = options.tls.certFile;
    plan.client.keyFile = options.tls.keyFile;
    plan.client.serverName = options.tls.serverName;
    plan.client.verify = options.tls.verify;
    plan.reconnect = options.reconnect;
    plan.downLimit = MillisecondsOf(options.connectTimeout);
    plan.count = part.connections;
    plan.firstIndex = part.first;
    plan.shard = options.shard.index;
    plan.runId = runId;
    plan.stampKey = options.stampKey;
    return plan;
}

std::unique_ptr<SendChannel> ChannelFor(const ChannelGround &ground, const DestinationPart &part)
{
    const Options &options = ground.plan.options;
    const std::string runId = options.stamp ? options.runId : std::string();
    if (!IsStream(options.transport))
        return std::make_unique<DatagramChannel>(part.to.target, part.to.port, runId,
                                                 options.shard.Stream(static_cast<std::uint64_t>(part.first) + 1),
                                                 part.to.socketPath, options.stampKey);
    if (IsRelp(options.transport))
        return std::make_unique<RelpChannel>(RelpPlanOf(options, part, runId), ground.say);
    ConnectionPlan plan;
    plan.host = part.to.target;
    plan.port = part.to.port;
    plan.sourcePort = options.sourcePort;
    plan.socketPath = part.to.socketPath;
    plan.tls = ground.tls;
    plan.reconnect = options.reconnect;
    plan.openingLimit = MillisecondsOf(options.connectTimeout);
    plan.count = part.connections;
    plan.firstIndex = part.first;
    plan.shard = options.shard.index;
    plan.runId = runId;
    plan.stampKey = options.stampKey;
    plan.targetText = part.to.Text();
    plan.sessionWord = UsesTls(options) ? "TLS" : UsesUnixSocket(options) ? "Unix stream" : "TCP";
    plan.idleCount = part.idleConnections;
    plan.dropChance = options.dropChance;
    plan.dropFlushLimit = MillisecondsOf(options.drainTimeout);
    plan.proxyVersion = options.proxyVersion;
    plan.proxySources = options.proxySources;
    return std::make_unique<StreamChannel>(std::move(plan), ground.runStart, ground.say);
}

// How many of the run's numbers from..from+count-1 fall to part of parts,
// the numbers dealt to the parts in turn.
int DealtTo(int from, int count, int parts, int part)
{
    int dealt = 0;
    for (int number = from; number < from + count; ++number)
        dealt += number % parts == part ? 1 : 0;
    return dealt;
}
} // namespace

std::unique_ptr<SendChannel> ThreadChannel(const LoadPlan &plan, const ThreadShare &share,
                                           std::shared_ptr<const TlsClientContext> tls,
                                           SendChannel::Clock::time_point runStart, const SendChannel::Say &say)
{
    const ChannelGround ground{plan, std::move(tls), runStart, say};
    const int count = static_cast<int>(plan.destinations.size());
    // A thread given no sessions of its own opens one to each destination.
    const int connections = share.connections > 0 ? share.connections : count;
    std::vector<SpreadChannel::Part> parts;
    int first = share.first;
    for (int d = 0; d < count; ++d) {
        const Destination &to = plan.destinations[static_cast<std::size_t>(d)];
        if (!IsStream(plan.options.transport)) {
            parts.push_back({to, ChannelFor(ground, {to, share.first * count + d, 1, 0})});
            continue;
        }
        const int dealt = DealtTo(share.first, connections, count, d);
        const int idle = DealtTo(share.idleFirst, share.idleConnections, count, d);
        parts.push_back({to, ChannelFor(ground, {to, first, std::max(dealt, 1), idle})});
        first += dealt;
    }
    if (parts.size() == 1)
        return std::move(parts.front().channel);
    return std::make_unique<SpreadChannel>(std::move(parts));
}
