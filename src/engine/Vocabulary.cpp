#include "engine/Vocabulary.h"

#include "common/TextHelpers.h"

namespace Vocabulary {
int EntryIndex(std::span<const std::string_view> entries, std::string_view text)
{
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i] == text)
            return static_cast<int>(i);
    return -1;
}

int EntryIndexNoCase(std::span<const std::string_view> entries, std::string_view text)
{
    const std::string wanted = ToLowerAscii(text);
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (ToLowerAscii(entries[i]) == wanted)
            return static_cast<int>(i);
    return -1;
}
} // namespace Vocabulary
