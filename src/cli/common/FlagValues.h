#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Strict readers of flag values: the whole text must be the number, so a
// typing mistake is a usage error instead of a silent default.
[[nodiscard]] std::optional<std::int64_t> WholeNumber(std::string_view text);
[[nodiscard]] std::optional<double> PositiveNumber(std::string_view text);
[[nodiscard]] std::optional<int> InRange(std::string_view text, std::int64_t low, std::int64_t high);

// The value as a usage message shows it: 'value'.
std::string Quoted(std::string_view text);
