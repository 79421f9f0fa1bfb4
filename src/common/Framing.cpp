#include "common/Framing.h"

#include "common/NameLists.h"
#include "common/TextHelpers.h"

std::string_view FramingName(Framing framing)
{
    return FramingNames[static_cast<std::size_t>(framing)];
}

std::optional<Framing> FramingNamed(std::string_view name, std::span<const Framing> among)
{
    const std::string lower = ToLowerAscii(name);
    for (const Framing framing : among)
        if (lower == FramingName(framing))
            return framing;
    return std::nullopt;
}

std::optional<Framing> ParseFraming(std::string_view name)
{
    return FramingNamed(name, SentFramings);
}

std::string FramingAlternatives(std::span<const Framing> framings)
{
    return NameAlternatives(framings, FramingName);
}

std::string FramingList(std::span<const Framing> framings)
{
    return NameList(framings, FramingName);
}

std::vector<std::string> FramingChoices(std::span<const Framing> framings)
{
    return NameChoices(framings, FramingName);
}
