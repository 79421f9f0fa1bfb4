#include "sources/TextLines.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

Result<TextLines> TextLines::Read(const std::string &path, std::size_t maxBytes)
{
    maxBytes = std::min(maxBytes, LargestFile);
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return Status::Failure("cannot read '" + path + "': " + std::strerror(errno));
    std::string text;
    char chunk[64 * 1024];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        text.append(chunk, got);
        if (text.size() > maxBytes)
            return Status::Failure("'" + path + "' is larger than " + std::to_string(maxBytes >> 20) + " MiB");
        if (got < sizeof chunk)
            break;
    }
    if (std::ferror(file.get()))
        return Status::Failure("cannot read '" + path + "': " + std::strerror(errno));
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
