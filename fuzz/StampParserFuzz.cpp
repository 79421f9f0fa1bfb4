// Looks for a stamp in any bytes; a stamp found must be valid and read back
// the same after being written in either form.
//
// bash scripts/fuzz.sh 60 StampParserFuzz
#include "engine/Stamp.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void Same(const Stamp &a, const Stamp &b)
{
    if (a.run != b.run || a.stream != b.stream || a.seq != b.seq || a.sentUs != b.sentUs)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view message(reinterpret_cast<const char *>(data), size);
    Stamp stamp;
    if (FindStamp(message, stamp) != StampSearch::Found)
        return 0;
    if (!IsValidRunId(stamp.run) || stamp.seq == 0 || stamp.sentUs < 0)
        std::abort();
    const std::string run(stamp.run);
    Stamp copy = stamp;
    copy.run = run;

    std::string token = "<13>Jan  1 00:00:00 host tag: text";
    AppendStampToken(token, copy);
    Stamp back;
    if (FindStamp(token, back) != StampSearch::Found)
        std::abort();
    Same(copy, back);

    std::string element = "<13>1 - - - - - ";
    AppendStampElement(element, copy);
    element += " text";
    if (FindStamp(element, back) != StampSearch::Found)
        std::abort();
    Same(copy, back);
    return 0;
}
