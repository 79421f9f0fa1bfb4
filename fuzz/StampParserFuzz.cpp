// Looks for a stamp in any bytes; a stamp found must be valid and read back
// the same after being written in either form, and the token also as a
// daemon escapes a CR after it. Keyed: an intake with a key counts the stamp
// as forged unless its MAC holds, and only then records it; the stamp signed
// with the key reads back in either form with a MAC that holds, and no
// longer holds once a field changes. Then the bytes as stamps a peer forged,
// into a delivery ledger: its memory grows with the stamps, not their
// numbers, and its totals never wrap. A stamp found also reads back the
// same from each place a template pack keeps it (a CEF extension, a LEEF
// attribute after a tab rsyslog escaped, a JSON member, escaped inside a
// JSON string too), written by a template's stamp slot.
//
// bash scripts/fuzz.sh 60 StampParserFuzz
#include "FuzzSupport.h"
#include "engine/MessageTemplate.h"
#include "engine/Stamp.h"
#include "engine/StampKey.h"
#include "proof/DeliveryLedger.h"
#include "proof/MessageIntake.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {
void Same(const Stamp &a, const Stamp &b)
{
    FuzzCheck(a.run == b.run && a.stream == b.stream && a.seq == b.seq && a.sentUs == b.sentUs && a.mac == b.mac,
              "a stamp reads back as it was written");
}

void CheckReadBack(std::string_view message)
{
    Stamp stamp;
    if (FindStamp(message, stamp) != StampSearch::Found)
        return;
    FuzzCheck(IsValidRunId(stamp.run) && stamp.seq > 0 && stamp.sentUs >= 0, "a stamp found is valid");
    const std::string run(stamp.run);
    Stamp copy = stamp;
    copy.run = run;

    std::string token = "<13>Jan  1 00:00:00 host tag: text";
    AppendStampToken(token, copy);
    Stamp back;
    for (const std::string &line : {token, token + "#015", token + "\r\n"}) {
        FuzzCheck(FindStamp(line, back) == StampSearch::Found, "the token is found");
        Same(copy, back);
    }
    std::string element = "<13>1 - - - - - ";
    AppendStampElement(element, copy);
    element += " text";
    FuzzCheck(FindStamp(element, back) == StampSearch::Found, "the element is found");
    Same(copy, back);
}

MessageTemplate Place(std::string_view text)
{
    return *MessageTemplate::Compile(text, {});
}

// A written line as a daemon may keep it: rsyslog's escape of a tab, or the
// line as a JSON string in a line of JSON.
std::string Escaped(std::string_view line, bool intoJson)
{
    std::string escaped = intoJson ? "host app: {\"msg\":\"" : "";
    for (char c : line) {
        if (c == '\t')
            escaped += "#011";
        else if (c == '"' && intoJson)
            escaped += "\\\"";
        else
            escaped.push_back(c);
    }
    return intoJson ? escaped + "\",\"n\":1}" : escaped;
}

void CheckPackPlaces(std::string_view message)
{
    Stamp stamp;
    if (FindStamp(message, stamp) != StampSearch::Found)
        return;
    const std::string run(stamp.run);
    Stamp copy = stamp;
    copy.run = run;
    static MessageTemplate places[] = {
        Place("CEF:0|v|p|1|1|n|3|src=192.0.2.7 msg=a b${stamp}"),
        Place("LEEF:2.0|v|p|1|1|x09|src=192.0.2.7${stamp:tab}"),
        Place(R"({"a":"quillon","quillon2":1${stamp:json}})"),
    };
    TemplateContext context;
    context.stamp = &copy;
    for (MessageTemplate &place : places) {
        std::string written;
        place.AppendTo(written, context);
        const bool json = written[0] == '{';
        for (const std::string &line : {written, Escaped(written, json)}) {
            Stamp back;
            FuzzCheck(FindStamp(line, back) == StampSearch::Found, "the stamp is found where a pack keeps it");
            Same(copy, back);
        }
    }
}

void CheckKeyed(std::string_view message)
{
    static const StampKey key("a fuzzing secret of some length");
    StampMac mac(key);
    DeliveryLedger ledger;
    MessageIntake intake(ledger);
    intake.RequireKey(key);
    intake.Take(message, -1);
    Stamp stamp;
    const bool found = FindStamp(message, stamp) == StampSearch::Found;
    const bool holds = found && mac.Verify(stamp);
    FuzzCheck(intake.Counts().forged == (found && !holds ? 1u : 0u) && intake.Counts().stamped == (holds ? 1u : 0u) &&
                  ledger.Received() <= intake.Counts().stamped,
              "a stamp whose MAC does not hold is forged and never recorded");
    if (!found)
        return;
    const std::string run(stamp.run);
    Stamp keyed = stamp;
    keyed.run = run;
    keyed.mac = mac.Of(run, stamp.stream, stamp.seq, stamp.sentUs);
    std::string token = "<13>Jan  1 00:00:00 host tag: text";
    AppendStampToken(token, keyed);
    std::string element = "<13>1 - - - - - ";
    AppendStampElement(element, keyed);
    for (const std::string &line : {token, element}) {
        Stamp back;
        FuzzCheck(FindStamp(line, back) == StampSearch::Found && mac.Verify(back), "a keyed stamp holds");
        Same(keyed, back);
    }
    Stamp changed = keyed;
    changed.seq += changed.seq < CountCap ? 1 : -1;
    FuzzCheck(!mac.Verify(changed), "a keyed stamp no longer holds once its number changes");
}

// Nine bytes a stamp: its stream (of eight), then its number.
void CheckLedger(std::string_view bytes)
{
    DeliveryLedger::Limits limits;
    limits.windowBits = 4096;
    if (!bytes.empty() && bytes[0] & 1)
        limits.maxGap = CountCap; // every gap believed
    DeliveryLedger ledger(limits);
    std::size_t stamps = 0;
    for (; bytes.size() >= 9; bytes.remove_prefix(9), ++stamps) {
        std::uint64_t seq = 0;
        std::memcpy(&seq, bytes.data() + 1, sizeof seq);
        seq = std::max<std::uint64_t>(seq & CountCap, 1);
        ledger.Record({"fuzz", static_cast<std::uint8_t>(bytes[0]) % 8u, seq, 0}, -1);
    }
    const LedgerReport report = ledger.Report();
    FuzzCheck(report.totals.received == ledger.Received() && report.totals.received <= stamps,
              "only stamps that came are received");
    // Once capped, the running figure stays at the cap.
    FuzzCheck(report.totals.lost <= CountCap &&
                  (ledger.LostSoFar() == report.totals.lost || ledger.LostSoFar() == CountCap),
              "the lost total is the sum of the streams', or the cap");
    for (const StreamReport &stream : report.streams) {
        FuzzCheck(report.totals.lost >= stream.figures.lost, "a total never wraps below a stream's figure");
        FuzzCheck(stream.gaps.size() <= DeliveryLedger::GapsPerStream, "gaps are named up to the limit");
    }
    FuzzCheck(ledger.MemoryBytes() <= 1024 * (stamps + 1), "memory grows with the stamps, not their numbers");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes = FuzzBytes(data, size);
    CheckReadBack(bytes);
    CheckPackPlaces(bytes);
    CheckKeyed(bytes);
    CheckLedger(bytes);
    return 0;
}
