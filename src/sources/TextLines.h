#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A small text file read whole and split into lines (user names, URLs, host
// names, templates): LF ends a line and a CR before it is dropped; a last
// line without LF counts. Bytes pass through as they are.
class TextLines {
public:
    static constexpr std::size_t LargestFile = std::size_t{64} << 20;
    // A file's bytes may take this share of the input budget
    // (common/MemoryBudget.h).
    static constexpr std::size_t HeldCopies = 4;

    // The file's lines, or why not ("cannot read 'users.txt': No such file
    // or directory"). A file larger than maxBytes,
    // or one that never ends (/dev/zero), is an error, found without reading
    // it whole; so is one larger than its share of the memory budget. A stop
    // request ends the read, of a FIFO too.
    static Result<TextLines> Read(const std::string &path, std::size_t maxBytes = LargestFile);
    static TextLines FromText(std::string text);

    std::size_t Count() const { return m_starts.size(); }
    // Line i, counting from 0 (the file's line i + 1).
    std::string_view Line(std::size_t i) const;
    // The longest line's length.
    std::size_t Longest() const { return m_longest; }

private:
    std::string m_text;
    std::vector<std::uint32_t> m_starts;
    std::vector<std::uint32_t> m_lengths;
    std::size_t m_longest = 0;
};
