#include "sources/TextLines.h"

#include "common/InputFile.h"
#include "common/MemoryBudget.h"

#include <algorithm>
#include <optional>

Result<TextLines> TextLines::Read(const std::string &path, std::size_t maxBytes)
{
    // The text, its line index (as large again for short lines) and a
    // caller's copy of it.
    const std::size_t budget = InputBudget() / HeldCopies;
    const bool fitsBudget = std::min(maxBytes, LargestFile) <= budget;
    maxBytes = std::min({maxBytes, LargestFile, budget});
    InputFile file;
    // "-" names a file here, as it always has.
    if (const Status opened = file.Open(path == "-" ? "./-" : path); !opened)
        return opened;
    const auto tooLarge = [&] {
        return Status::Failure(fitsBudget ? "'" + path + "' is larger than " + std::to_string(maxBytes >> 20) + " MiB"
                                          : "'" + path + "' is larger than " + MemoryText(maxBytes) +
                                                ", the most a file may take of " + BudgetText(maxBytes * HeldCopies));
    };
    if (file.Size() > maxBytes)
        return tooLarge();
    std::string text;
    text.reserve(file.Size());
    char chunk[64 * 1024];
    for (;;) {
        const std::optional<std::size_t> got = file.Read(chunk, sizeof chunk);
        if (!got)
            return Status::Failure(file.Stopped() ? "stopped while reading '" + path + "'" : file.Outcome().Why());
        if (*got == 0)
            break;
        if (text.size() + *got > maxBytes)
            return tooLarge();
        text.append(chunk, *got);
    }
    return FromText(std::move(text));
}

TextLines TextLines::FromText(std::string text)
{
    TextLines lines;
    lines.m_text = std::move(text);
    const std::string_view all = lines.m_text;
    std::size_t from = 0;
    while (from < all.size()) {
        std::size_t end = all.find('\n', from);
        const std::size_t next = end == std::string_view::npos ? all.size() : end + 1;
        if (end == std::string_view::npos)
            end = all.size();
        if (end > from && all[end - 1] == '\r')
            --end;
        lines.m_starts.push_back(static_cast<std::uint32_t>(from));
        lines.m_lengths.push_back(static_cast<std::uint32_t>(end - from));
        lines.m_longest = std::max(lines.m_longest, end - from);
        from = next;
    }
    return lines;
}

std::string_view TextLines::Line(std::size_t i) const
{
    return std::string_view(m_text).substr(m_starts[i], m_lengths[i]);
}
