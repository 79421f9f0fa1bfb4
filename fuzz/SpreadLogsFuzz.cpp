// The reader of `kubectl logs` output for quillon-recv --merge, and the
// merge of what it found: any cut of the input reads the same, every line is
// accounted for, a valid document after junk is never lost, and the totals
// are the sums of the shards.

#include "FuzzSupport.h"

#include "proof/DeliveryLedger.h"
#include "proof/SpreadMerge.h"

#include <algorithm>

namespace {
constexpr std::string_view Known = R"({"sent":1,"shard":0,"shards":1,"run_id":"known"})";

LogDocuments Read(std::string_view text, std::size_t cut)
{
    LogDocuments logs;
    logs.Begin("fuzz");
    logs.Feed(text.substr(0, cut));
    logs.Feed(text.substr(cut));
    logs.End();
    return logs;
}

bool SameDocuments(const LogDocuments &a, const LogDocuments &b)
{
    return std::equal(
        a.Documents().begin(), a.Documents().end(), b.Documents().begin(), b.Documents().end(),
        [](const LogDocument &x, const LogDocument &y) { return x.where == y.where && x.object == y.object; });
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = FuzzBytes(data, size);
    const LogDocuments whole = Read(text, text.size());
    const LogDocuments cut = Read(text, size > 0 ? data[0] % (size + 1) : 0);
    FuzzCheck(SameDocuments(whole, cut), "any cut of the input gives the same documents");
    const LogLineCounts &c = whole.Counts();
    FuzzCheck(c.lines == c.documentLines + c.unreadableLines + c.otherLines,
              "every line is part of a document read, of one not read, or another line");
    FuzzCheck(c.documents == whole.Documents().size(), "every document read is counted");

    const std::string withKnown = std::string(text) + "\n" + std::string(Known) + "\n";
    const LogDocuments after = Read(withKnown, withKnown.size());
    FuzzCheck(!after.Documents().empty() && after.Documents().back().object["run_id"] == "known",
              "a document on a line of its own after any junk is read");

    const SpreadMerge merge = MergeSpreadRun(after.Documents());
    std::uint64_t sent = 0, received = 0, lost = 0;
    bool shardProblems = false;
    for (const ShardFigures &shard : merge.shards) {
        sent = CappedSum(sent, shard.sent);
        received = CappedSum(received, shard.received);
        lost = CappedSum(lost, shard.lost);
        shardProblems = shardProblems || !shard.problems.empty();
        FuzzCheck(shard.lost <= shard.sent || !shard.problems.empty(), "a shard that lost more than it sent fails");
    }
    FuzzCheck(merge.total.sent == sent && merge.total.received == received && merge.total.lost == lost,
              "the totals are the shards' sums, stopping at the cap");
    FuzzCheck(!(merge.Reconciled() && shardProblems), "a run with a shard that does not reconcile does not");
    return 0;
}
