#include "cli/recv/SpreadMergeCommand.h"

#include "common/InputFile.h"
#include "common/MemoryBudget.h"
#include "common/TextHelpers.h"
#include "proof/SpreadMerge.h"
#include "report/JsonText.h"

#include <QJsonArray>

#include <iostream>

namespace {
constexpr int UsageErrorStatus = 2;

// A receiver report of many streams with their gaps is one long line.
constexpr std::size_t LongestLine = std::size_t{256} << 20;

// Reads file to its end into logs; a failure says why in the user's words.
Status ReadAll(const std::string &path, LogDocuments &logs, const std::string &budget)
{
    InputFile input;
    if (const Status opened = input.Open(path); !opened)
        return opened;
    const std::string file = path == "-" ? "standard input" : path;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const std::optional<std::size_t> got = input.Read(buffer.data(), buffer.size());
        if (!got)
            return Status::Failure(input.Stopped() ? file + ": stopped while reading" : input.Outcome().Why());
        if (*got == 0)
            return {};
        logs.Feed(std::string_view(buffer.data(), *got));
        switch (logs.Overflowed()) {
        case LogDocuments::Overflow::None:
            break;
        case LogDocuments::Overflow::Line:
            return Status::Failure(file + ": a line longer than " + std::to_string(LongestLine >> 20) + " MiB");
        case LogDocuments::Overflow::Held:
            return Status::Failure(file + ": the logs need more than " + budget);
        }
    }
}

std::string Reached(const std::optional<bool> &reached)
{
    return reached ? (*reached ? "yes" : "no") : "-";
}

std::string Table(const SpreadMerge &merge)
{
    static const std::vector<std::string> Heads = {"shard",        "senders",  "sent", "target reached", "reconnects",
                                                   "unknown fate", "received", "lost", "duplicates"};
    std::vector<std::vector<std::string>> rows{Heads};
    const auto row = [&rows](std::string first, const ShardFigures &f) {
        rows.push_back({std::move(first), GroupedCount(f.senders), GroupedCount(f.sent), Reached(f.targetReached),
                        GroupedCount(f.reconnects), GroupedCount(f.unknownFate), GroupedCount(f.received),
                        GroupedCount(f.lost), GroupedCount(f.duplicates)});
    };
    for (const ShardFigures &shard : merge.shards)
        row(std::to_string(shard.shard), shard);
    row(merge.total.incomplete ? "total (incomplete)" : "total", merge.total);
    std::vector<std::size_t> widths(Heads.size(), 0);
    for (const auto &cells : rows)
        for (std::size_t i = 0; i < cells.size(); ++i)
            widths[i] = std::max(widths[i], cells[i].size());
    std::string text;
    for (const auto &cells : rows) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            // Figures to the right, words to the left, as people read columns.
            const std::string pad(widths[i] - cells[i].size(), ' ');
            const bool left = i == 0 || i == 3;
            line += (i == 0 ? "" : "  ") + (left ? cells[i] + pad : pad + cells[i]);
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return text;
}

std::string Verdict(const SpreadMerge &merge)
{
    std::string text;
    for (const ShardFigures &shard : merge.shards)
        for (const std::string &problem : shard.problems)
            text += "shard " + std::to_string(shard.shard) + " does not reconcile: " + problem + "\n";
    // The rate is what was asked, not what the figures must agree on.
    for (const ShardFigures &shard : merge.shards)
        if (shard.targetReached == false)
            text += "shard " + std::to_string(shard.shard) + " fell short of its target rate (see its senders' logs)\n";
    for (const std::string &problem : merge.problems)
        text += "the run does not reconcile: " + problem + "\n";
    for (const ShardFigures &shard : merge.shards)
        if (shard.incomplete)
            text += "the total is incomplete: the sender summary of shard " + std::to_string(shard.shard) +
                    " is missing, though the receiver counted its messages\n";
    if (merge.Reconciled()) {
        const ShardFigures &total = merge.total;
        text += "every shard reconciles: " + GroupedCount(total.sent) + " sent, " + GroupedCount(total.received) +
                " received, " +
                (total.lost == 0 ? std::string("none lost")
                                 : GroupedCount(total.lost) + " lost, all of unknown fate (sent on connections " +
                                       "that broke before the receiver's system acknowledged them)") +
                "\n";
    }
    return text;
}

QJsonObject FiguresJson(const ShardFigures &f)
{
    const auto number = [](std::uint64_t value) { return QJsonValue(static_cast<qint64>(value)); };
    QJsonObject object{{"senders", number(f.senders)},
                       {"sent", number(f.sent)},
                       {"target_reached", f.targetReached ? QJsonValue(*f.targetReached) : QJsonValue()},
                       {"reconnects", number(f.reconnects)},
                       {"unknown_fate", number(f.unknownFate)},
                       {"received", number(f.received)},
                       {"lost", number(f.lost)},
                       {"lost_in_gaps", number(f.lostInGaps)},
                       {"duplicates", number(f.duplicates)},
                       {"suspect_jumps", number(f.suspectJumps)},
                       {"incomplete", f.incomplete}};
    return object;
}

QJsonArray Texts(const std::vector<std::string> &texts)
{
    QJsonArray array;
    for (const std::string &text : texts)
        array.append(JsonText(text));
    return array;
}

std::string Json(const SpreadMerge &merge, const LogLineCounts &counts, int status)
{
    QJsonArray shards;
    for (const ShardFigures &shard : merge.shards) {
        QJsonObject object = FiguresJson(shard);
        object["shard"] = static_cast<qint64>(shard.shard);
        object["reconciled"] = shard.problems.empty();
        object["problems"] = Texts(shard.problems);
        shards.append(object);
    }
    QJsonObject json{{"shards", shards},
                     {"total", FiguresJson(merge.total)},
                     {"reconciled", merge.Reconciled()},
                     {"problems", Texts(merge.problems)},
                     {"receiver_report", JsonText(merge.receiverReports.front())},
                     {"sender_summaries", static_cast<qint64>(merge.senderSummaries)},
                     {"repeated_summaries", static_cast<qint64>(merge.repeatedSummaries)},
                     {"other_documents", static_cast<qint64>(merge.otherDocuments)},
                     {"lines", static_cast<qint64>(counts.lines)},
                     {"other_lines", static_cast<qint64>(counts.otherLines)},
                     {"unreadable_documents", static_cast<qint64>(counts.unreadable)},
                     {"exit_status", status}};
    return JsonLine(json);
}

std::string InputNote(const SpreadMerge &merge, const LogLineCounts &counts)
{
    std::string text = "read 1 receiver report and " + std::to_string(merge.senderSummaries) + " sender summar" +
                       (merge.senderSummaries == 1 ? "y" : "ies") + " from " + GroupedCount(counts.lines) + " lines";
    if (merge.repeatedSummaries > 0)
        text += "; " + std::to_string(merge.repeatedSummaries) + " summaries given again were counted once";
    if (counts.unreadable > 0)
        text += "; " + std::to_string(counts.unreadable) + " JSON documents could not be read (cut short?)";
    return text + "\n";
}
} // namespace

int RunMergeCommand(const std::vector<std::string> &files, bool json, std::ostream &out, std::ostream &err)
{
    const std::size_t budget = InputBudget();
    LogDocuments logs(LogDocuments::Limits{budget, LongestLine});
    for (const std::string &file : files) {
        logs.Begin(file == "-" ? "standard input" : file);
        if (const Status read = ReadAll(file, logs, BudgetText(budget)); !read) {
            err << "quillon-recv: --merge: " << read.Why() << "\n";
            return UsageErrorStatus;
        }
    }
    logs.End();
    const SpreadMerge merge = MergeSpreadRun(logs.Documents());
    std::string missing;
    if (merge.receiverReports.empty())
        missing = "no receiver report (quillon-recv --json) in the input";
    else if (merge.receiverReports.size() > 1)
        missing = std::to_string(merge.receiverReports.size()) + " different receiver reports (in " +
                  merge.receiverReports[0] + " and " + merge.receiverReports[1] + "): merge one run at a time";
    else if (merge.senderSummaries == 0)
        missing = "no sender summary (quillon-send --json) in the input";
    if (!missing.empty()) {
        err << "quillon-recv: --merge: " << missing << "\n";
        return UsageErrorStatus;
    }
    const int status = merge.Reconciled() ? 0 : 1;
    if (json)
        out << Json(merge, logs.Counts(), status) << "\n";
    else
        out << Table(merge) << Verdict(merge) << InputNote(merge, logs.Counts());
    return status;
}
