#pragma once

#include "FuzzSupport.h"

#include "cli/send/CommandLine.h"
#include "engine/MessageFormat.h"
#include "transport/TlsSettingsStore.h"

#include <cmath>

// What a run may rely on, however the options were read.
inline void CheckOptions(const Options &o)
{
    FuzzCheck(o.port >= 1 && o.port <= 65535, "the port lies in 1..65535");
    FuzzCheck(o.sourcePort >= 0 && o.sourcePort <= 65535, "the source port lies in 0..65535");
    FuzzCheck(o.facilityIndex >= 0 && o.facilityIndex <= 24, "the facility index lies in 0..24");
    FuzzCheck(o.levelIndex >= 0 && o.levelIndex <= 8, "the level index lies in 0..8");
    FuzzCheck(!o.usePriority || (o.priority >= 0 && o.priority <= 255), "a typed priority lies in 0..255");
    FuzzCheck(o.continuousMs >= 10 && o.continuousMs <= 2000, "the delay lies in 10..2000 ms");
    FuzzCheck(o.burstSize == 100 || o.burstSize == 500, "a burst is 100 or 500");
    FuzzCheck(o.sequenceNumber >= 0 && o.sequenceNumber <= 1000000, "the counter lies in 0..1000000");
    FuzzCheck(o.pace != Pace::Rate || o.shape.SendsAnything(), "a load shape sends something");
    FuzzCheck(o.shape.MessagesBy(3600) >= 0, "a load shape's count is not negative");
    FuzzCheck(o.shard.count >= 1 && o.shard.index < o.shard.count, "the shard lies among the shards");
    FuzzCheck(std::isfinite(o.duration) && o.duration >= 0 && o.count >= 0, "limits are not negative");
    FuzzCheck(o.connectTimeout > 0 && o.connectTimeout <= 86400 && o.drainTimeout >= 0 && o.drainTimeout <= 86400,
              "the connect and drain timeouts lie within a day");
    FuzzCheck(CheckMessageFormatSettings(o.messageFormat).empty(), "the message format settings pass the checks");
    FuzzCheck(!UsesTls(o) || CheckTlsSettings(o.tls).empty(), "a TLS run's settings pass the checks");
    FuzzCheck(o.threads >= 1 && o.threads <= 64, "the threads lie in 1..64");
    FuzzCheck(o.connections >= 0 && o.connections <= 100000, "the connections lie in 0..100000");
    FuzzCheck(o.connections == 0 || IsStream(o.transport), "several connections are TCP or TLS ones");
    FuzzCheck(!IsStream(o.transport) || ConnectionCount(o) >= o.threads, "each thread has a connection");
    FuzzCheck(o.threads == 1 || o.pace == Pace::Rate || o.pace == Pace::Unlimited, "threads share a rate");
}
