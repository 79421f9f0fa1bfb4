#include "common/Framing.h"

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
    std::string text;
    for (const Framing framing : framings)
        text += (text.empty() ? "" : "|") + std::string(FramingName(framing));
    return text;
}

std::string FramingList(std::span<const Framing> framings)
{
    std::string text;
    for (std::size_t i = 0; i < framings.size(); ++i)
        text += (i == 0 ? "" : i + 1 == framings.size() ? " or " : ", ") + std::string(FramingName(framings[i]));
    return text;
}

std::vector<std::string> FramingChoices(std::span<const Framing> framings)
{
    std::vector<std::string> choices;
    for (const Framing framing : framings)
        choices.emplace_back(FramingName(framing));
    return choices;
}
