#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The text before the first NUL, or all of it.
std::string TrimAtNul(std::string_view text);

// Leading and trailing space characters removed (tabs and other blanks stay).
std::string TrimSpaces(std::string_view text);

std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);

bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// value with that many decimals, in the C locale: Fixed(2.5, 1) is "2.5".
std::string Fixed(double value, int decimals);

// 1234567 as "1,234,567".
std::string Grouped(std::int64_t number);
std::string GroupedCount(std::uint64_t count);

// "1 message" or "N messages".
std::string MessagesText(std::int64_t count);
