#include "common/TextHelpers.h"

#include <algorithm>
#include <locale>
#include <sstream>

std::string TrimAtNul(std::string_view text)
{
    const auto nul = text.find('\0');
    return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string TrimSpaces(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string ToLowerAscii(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
    return out;
}

std::string ToUpperAscii(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c); });
    return out;
}

// Asked of every packet, so it compares in place instead of upper-casing copies.
bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; };
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [&](char a, char b) {
               return upper(static_cast<unsigned char>(a)) == upper(static_cast<unsigned char>(b));
           });
}

std::string Fixed(double value, int decimals)
{
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.setf(std::ios::fixed);
    text.precision(decimals);
    text << value;
    return text.str();
}

std::string GroupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

std::string Grouped(std::int64_t number)
{
    const std::uint64_t size =
        number < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    return (number < 0 ? "-" : "") + GroupedCount(size);
}

std::string MessagesText(std::int64_t count)
{
    return Grouped(count) + (count == 1 ? " message" : " messages");
}
