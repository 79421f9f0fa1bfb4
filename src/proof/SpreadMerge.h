#pragma once

#include "proof/SpreadLogs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One shard of a spread run: what its senders said they sent and what the
// receiver counted of it. Figures stop at 9223372036854775807.
struct ShardFigures {
    std::uint64_t shard = 0;
    std::uint64_t senders = 0;
    std::uint64_t sent = 0;
    // Every sender reached its rate; none: no sender had a rate to reach.
    std::optional<bool> targetReached;
    std::uint64_t reconnects = 0;
    std::uint64_t unknownFate = 0;
    std::uint64_t received = 0;
    // Sent and not received: the receiver's gaps and the ends of the streams
    // it could not see.
    std::uint64_t lost = 0;
    std::uint64_t lostInGaps = 0; // the receiver's own figure
    std::uint64_t duplicates = 0;
    std::uint64_t suspectJumps = 0;
    // Its senders' transport gives no word of delivery (UDP): a loss there
    // cannot be of unknown fate.
    bool datagrams = false;
    // The receiver counted messages of a shard no sender's summary names:
    // sent is short of what went out.
    bool incomplete = false;
    // Why the shard does not reconcile; empty when it does.
    std::vector<std::string> problems;
};

struct SpreadMerge {
    std::vector<ShardFigures> shards; // by shard
    ShardFigures total;
    // What keeps the whole run from reconciling beyond its shards.
    std::vector<std::string> problems;
    // Where the receiver's reports were, one for each different report.
    std::vector<std::string> receiverReports;
    std::uint64_t senderSummaries = 0;
    // The same sender's summary given again (the same log read twice).
    std::uint64_t repeatedSummaries = 0;
    std::uint64_t otherDocuments = 0;

    bool Reconciled() const;
};

// Joins the receiver's report (quillon-recv --json) with the senders'
// summaries (quillon-send --json) among the documents. A shard reconciles
// when the receiver reports it and a sender's summary names it, every
// stream the receiver counted in it is of one of those senders' runs, no
// sender failed or sent without stamps, no stream received more than it
// sent, no duplicates and no suspect jumps came, and every message sent and
// not received is one of unknown fate (sent on a connection that broke
// before the receiver's system acknowledged it).
SpreadMerge MergeSpreadRun(const std::vector<LogDocument> &documents);
