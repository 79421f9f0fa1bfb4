// quillon-send's flags: the input split at NUL bytes is the argument list.
// A run's options then compose a few packets, without sending them, and
// their pacing is asked when a few messages are due.

#include "FuzzSupport.h"
#include "OptionsCheck.h"

#include "engine/Stamp.h"
#include "load/LoadPlan.h"
#include "load/PaceSchedule.h"
#include "load/PacketStream.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {
constexpr int Packets = 3;
std::string g_sourcePath;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Flags may name any file; the packets are composed from this one instead.
    g_sourcePath = WriteFuzzFile("source.txt", "1\t2\t3\tfield four ####\nHEX=3C31333E41 42\n");
    // What an Indexed Job sets, so --shard auto/N has an index to read.
    ::setenv("JOB_COMPLETION_INDEX", "2", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> args;
    std::string_view rest = FuzzBytes(data, size);
    while (!rest.empty()) {
        const std::size_t nul = rest.find('\0');
        args.emplace_back(rest.substr(0, nul));
        rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    }

    ParseResult parsed = ParseCommandLine(args);
    if (parsed.action == ParseResult::Action::UsageError) {
        FuzzCheck(!parsed.error.empty(), "a usage error names what is wrong");
        return 0;
    }
    if (parsed.action != ParseResult::Action::Run)
        return 0;
    Options &o = parsed.options;
    CheckOptions(o);
    FuzzCheck(!o.target.empty() && o.target.front() != ' ' && o.target.back() != ' ', "the target is trimmed");
    FuzzCheck(o.sourcePort == 0 || o.sourcePort != o.port, "source and destination ports differ");

    if (!o.sourceFile.empty())
        o.sourceFile = g_sourcePath;
    const LoadPlan plan = MakeLoadPlan(o);
    if (plan.shares.empty())
        return 0;
    PacketStream stream(plan, plan.shares.front(), "fuzzhost", "127.0.0.");
    const std::string run = o.runId.empty() ? "fuzzrun" : o.runId;
    if (o.stamp) {
        FuzzCheck(IsValidRunId(run), "a run id given is valid");
        stream.StampWith(run, o.shard.Stream(1), o.stampKey ? &*o.stampKey : nullptr);
    }
    // A stamp reads back from its packet, unless the user broke the packet
    // on purpose (a corrupted byte, an RFC 5424 packet without its priority).
    const bool readable = !o.corrupt && !(o.noPriority && o.messageFormat.format == MessageFormat::Rfc5424);
    std::string packets;
    for (int i = 0; i < Packets; ++i) {
        const std::size_t start = packets.size();
        const std::uint64_t seq = o.stamp ? stream.Stamper()->NextSeq() : 0;
        stream.AppendNext(packets);
        if (!o.stamp || !readable || stream.Stamper()->NextSeq() == seq)
            continue;
        std::string_view packet = std::string_view(packets).substr(start);
        if (StreamFramingOf(o) == Framing::OctetCount)
            packet.remove_prefix(packet.find(' ') + 1);
        Stamp stamp;
        FuzzCheck(FindStamp(packet, stamp) == StampSearch::Found && stamp.seq == seq && stamp.run == run &&
                      stamp.stream == o.shard.Stream(1),
                  "the stamp reads back from its packet");
    }

    PaceSchedule schedule(plan, plan.shares.front());
    std::int64_t before = 0;
    for (const double seconds : {0.0, 0.5, 1.0, 7.25, 3600.0}) {
        const std::int64_t due = schedule.DueBy(seconds);
        FuzzCheck(due >= before, "the messages due never go down");
        FuzzCheck(schedule.DueBefore(seconds) <= due, "no more were due by a time than DueBy said");
        FuzzCheck(!(schedule.DueAt(due) < 0), "a message is never due before the start");
        before = due;
    }
    return 0;
}
