#include "common/Numbers.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {
bool IsIgnoredBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

double ReadRadix(std::string_view digits, int radix)
{
    double value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (radix == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (radix == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        if (d >= radix)
            break;
        value = value * radix + d;
    }
    return value;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// from_chars leaves the value alone when it does not fit a double.
double ReadOutOfRange(const std::string &number)
{
    const std::size_t e = number.find('e');
    const bool negative = number.front() == '-';
    const bool tiny = e != std::string::npos && e + 1 < number.size() && number[e + 1] == '-';
    if (tiny)
        return negative ? -0.0 : 0.0;
    return negative ? -HUGE_VAL : HUGE_VAL;
}

// The longest decimal prefix, taken by hand so that the library's own extras
// (hex floats, "inf", "nan", locale separators) never apply.
double ReadDecimalPrefix(std::string_view text, bool exponentD)
{
    std::string number;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        number.push_back(text[i++]);
    bool anyDigit = false;
    while (i < text.size() && IsDigit(text[i])) {
        number.push_back(text[i++]);
        anyDigit = true;
    }
    if (i < text.size() && text[i] == '.') {
        number.push_back(text[i++]);
        while (i < text.size() && IsDigit(text[i])) {
            number.push_back(text[i++]);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;
    const auto isExponent = [exponentD](char c) {
        return c == 'e' || c == 'E' || (exponentD && (c == 'd' || c == 'D'));
    };
    if (i < text.size() && isExponent(text[i])) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            exponent.push_back(text[j++]);
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j]))
                exponent.push_back(text[j++]);
            number += exponent;
        }
    }
    // from_chars, not strtod: strtod takes the decimal point from the C
    // locale, which the Qt application sets from the environment.
    if (number.front() == '+')
        number.erase(0, 1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range)
        return ReadOutOfRange(number);
    return value;
}
} // namespace

double ReadLeadingNumber(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    return first == std::string_view::npos ? 0 : ReadDecimalPrefix(text.substr(first), false);
}

double ReadNumber(std::string_view text)
{
    std::string compact;
    compact.reserve(text.size());
    for (char c : text)
        if (!IsIgnoredBlank(c))
            compact.push_back(c);

    if (compact.size() >= 2 && compact[0] == '&') {
        const char kind = compact[1];
        if (kind == 'h' || kind == 'H')
            return ReadRadix(std::string_view(compact).substr(2), 16);
        if (kind == 'o' || kind == 'O')
            return ReadRadix(std::string_view(compact).substr(2), 8);
        return 0;
    }
    return ReadDecimalPrefix(compact, true);
}

double RangeOrDefault(double value, double min, double max, double defaultValue)
{
    if (value > max)
        return defaultValue;
    if (value < min)
        return defaultValue;
    if (std::isnan(value))
        return defaultValue;
    return value;
}

std::int64_t RoundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9.2e18;
    if (value >= limit)
        return static_cast<std::int64_t>(limit);
    if (value <= -limit)
        return -static_cast<std::int64_t>(limit);
    // nearbyint follows the default rounding mode, which is to-nearest-even.
    return static_cast<std::int64_t>(std::nearbyint(value));
}

std::string ShortestDecimal(double value)
{
    if (value == 0 || std::isnan(value))
        return "0";
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return "0";
    return std::string(buffer.data(), result.ptr);
}
