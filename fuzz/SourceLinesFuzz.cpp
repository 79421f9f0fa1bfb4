// The text and hex readers: the input is the message-source file, read line
// by line in a loop, and each line's tab-separated fields.

#include "FuzzSupport.h"

#include "engine/PacketBuilder.h"
#include "sources/SourceFile.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace {
// Reads past the end to see the loop back to the first line, within a bound
// that keeps each input quick.
constexpr std::size_t MaxReads = 300;

// Lines end in LF, CR or CR LF; a last line without an end still counts.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", from);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(from));
            break;
        }
        lines.push_back(text.substr(from, end - from));
        from = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::string Field(std::string_view line, std::int32_t n)
{
    std::int32_t field = 1;
    std::size_t from = 0;
    while (field < n) {
        const std::size_t tab = line.find('\t', from);
        if (tab == std::string_view::npos)
            return {};
        from = tab + 1;
        ++field;
    }
    return n < 1 || line.empty() ? std::string() : std::string(line.substr(from, line.find('\t', from) - from));
}

bool IsHexLine(std::string_view line)
{
    return line.size() >= 4 && (line[0] | 32) == 'h' && (line[1] | 32) == 'e' && (line[2] | 32) == 'x' &&
           line[3] == '=';
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = FuzzBytes(data, size);
    const std::vector<std::string_view> lines = Lines(text);

    for (std::string_view line : lines)
        for (const std::int32_t n : {INT_MIN, -1, 0, 1, 2, 4, 7, INT_MAX})
            FuzzCheck(TabField(line, n) == Field(line, n), "TabField gives the n-th tab-separated field");

    SendState state;
    state.SourceFileName = WriteFuzzFile("source.txt", text);
    SourceFile reader(state);
    const std::size_t reads = std::min(MaxReads, lines.size() + 2);
    for (std::size_t i = 0; i < reads; ++i) {
        const std::string got = reader.ReadSourceFileLine();
        if (lines.empty()) {
            FuzzCheck(got.empty(), "an empty file gives empty messages");
            continue;
        }
        const std::string_view line = lines[i % lines.size()];
        if (line.size() > SourceFile::LongestLine) {
            FuzzCheck(got == SourceFileReadError && reader.LineTooLong(), "a line over 64 KiB is a failed read");
            return 0;
        }
        const std::string expected = IsHexLine(line) ? std::string(line) : Field(line, 4);
        FuzzCheck(got == expected, "each line gives its fourth field, or itself when it starts with HEX=");
        if (IsHexLine(got))
            BuildSyslogPacket(13, "", "", got, false, false, false, false);
    }
    return 0;
}
