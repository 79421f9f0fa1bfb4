// Replays any bytes as a log file. Lines come out in order with offsets
// that never fall, each no longer than a line may be, and a time found lies
// within its line. A line rewritten to another time reads back with a time
// of the same form at the same place, and the rest of the line unchanged.
//
// bash scripts/fuzz.sh 60 ReplayFuzz
#include "FuzzSupport.h"
#include "sources/ReplayFile.h"

#include <cstdint>
#include <string>

namespace {
// 2026-03-06T10:00:00.654321Z
constexpr std::int64_t Now = 1772791200654321;

void CheckRewritten(const ReplayLine &line)
{
    std::string rewritten;
    AppendRewritten(rewritten, line, Now, -5 * 3600 - 30 * 60);
    // A line's end takes one CR with it: a line that ends in a CR of its own
    // keeps it only with another before the LF.
    rewritten += "\r\n";
    ReplayFile again(2026);
    FuzzCheck(static_cast<bool>(again.Open(WriteFuzzFile("rewritten", rewritten))), "the rewritten line is written");
    ReplayLine back;
    FuzzCheck(again.Next(back) == ReplayFile::Read::Line && back.time == line.time && back.timeAt == line.timeAt,
              "a rewritten line reads back with a time of its form at its place");
    FuzzCheck(back.text.substr(0, back.timeAt) == line.text.substr(0, line.timeAt) &&
                  back.text.substr(back.timeAt + back.timeLength) == line.text.substr(line.timeAt + line.timeLength),
              "only the time of a rewritten line changes");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes = FuzzBytes(data, size);
    ReplayFile file(2025);
    FuzzCheck(static_cast<bool>(file.Open(WriteFuzzFile("replay.log", bytes))), "the file opens");
    ReplayLine line;
    std::int64_t last = 0;
    std::size_t lines = 0;
    for (int loop = 0; loop < 2; ++loop, file.Rewind()) {
        ReplayFile::Read read;
        while ((read = file.Next(line)) == ReplayFile::Read::Line) {
            ++lines;
            FuzzCheck(line.offsetUs >= last, "offsets never fall");
            FuzzCheck(line.text.size() <= ReplayFile::LongestLine, "a line is no longer than a line may be");
            FuzzCheck(line.time == ReplayTime::None || line.timeAt + line.timeLength <= line.text.size(),
                      "a time lies within its line");
            last = line.offsetUs;
            if (line.time != ReplayTime::None && line.fractionDigits <= 6 && line.text.find('\n') == std::string::npos)
                CheckRewritten(line);
        }
        FuzzCheck(read == ReplayFile::Read::End || !file.Outcome().Why().empty(), "a failed read says why");
    }
    FuzzCheck(lines <= 2 * (bytes.size() + 1), "no more lines than the bytes make");
    return 0;
}
