#include "cli/common/FlagValues.h"

#include <charconv>
#include <cmath>

std::string Quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

std::optional<std::int64_t> WholeNumber(std::string_view text)
{
    std::int64_t value = 0;
    const char *end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end)
        return std::nullopt;
    return value;
}

std::optional<double> PositiveNumber(std::string_view text)
{
    double value = 0;
    const char *end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || at != end || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

std::optional<int> InRange(std::string_view text, std::int64_t low, std::int64_t high)
{
    const auto value = WholeNumber(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return static_cast<int>(*value);
}
