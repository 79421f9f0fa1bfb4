#pragma once

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The number at the start of a text: leading blanks and tabs skipped, then
// the longest prefix of sign, digits, fraction and exponent; 0 when there is
// none. The settings, the priority text and the send path read numbers so.
double ReadLeadingNumber(std::string_view text);

// The lenient reading that validation uses: blanks, tabs and line feeds
// anywhere are ignored, the exponent may be E or D, and &H and &O start a
// hexadecimal or octal number. A text that does not start with one reads as 0.
double ReadNumber(std::string_view text);

// The default when the value lies outside [min, max], never the nearer bound.
double RangeOrDefault(double value, double min, double max, double defaultValue);

// Nearest integer, halves to the even neighbour; saturates far outside int64.
std::int64_t RoundHalfEven(double value);

// The shortest plain decimal text that reads back as the same value
// (514 -> "514", 12.5 -> "12.5"); never an exponent.
std::string ShortestDecimal(double value);

// The decimal digits of value at out, which has room for 20, and the end of
// them: inlined for the short numbers written per message (counts, fields).
inline char *WriteDecimal(char *out, std::uint64_t value)
{
    if (value >= 100000000) [[unlikely]]
        return std::to_chars(out, out + 20, value).ptr;
    static constexpr char Pairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                    "8081828384858687888990919293949596979899";
    const std::size_t digits = value < 10000
                                   ? (value < 100 ? (value < 10 ? 1 : 2) : (value < 1000 ? 3 : 4))
                                   : (value < 1000000 ? (value < 100000 ? 5 : 6) : (value < 10000000 ? 7 : 8));
    char *at = out + digits;
    while (value >= 100) {
        at -= 2;
        std::memcpy(at, Pairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10)
        std::memcpy(at - 2, Pairs + 2 * value, 2);
    else
        at[-1] = static_cast<char>('0' + value);
    return out + digits;
}
