#pragma once

#include <bit>
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

// The values SmallDecimal takes are below this.
inline constexpr std::uint64_t SmallDecimalLimit = 100000000;

// The decimal digits of a value below 10^8 as one word, in memory order
// (its first byte the first digit), and their count. All eight digits are
// made and the leading zeros shifted away: no branch waits on the length of
// a random number, and the word stays in a register (stored as pairs and
// read back whole, a load would wait for the four stores to land).
struct DecimalWord {
    std::uint64_t word;
    unsigned digits;
};
[[gnu::always_inline]] inline DecimalWord SmallDecimal(std::uint32_t value)
{
    static constexpr char Pairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                    "8081828384858687888990919293949596979899";
    const unsigned digits = 1u + (value >= 10) + (value >= 100) + (value >= 1000) + (value >= 10000) +
                            (value >= 100000) + (value >= 1000000) + (value >= 10000000);
    const std::uint32_t high = value / 10000;
    const std::uint32_t low = value % 10000;
    const auto pair = [](std::uint32_t at) {
        std::uint16_t two;
        std::memcpy(&two, Pairs + 2 * at, 2);
        return static_cast<std::uint64_t>(two);
    };
    if constexpr (std::endian::native == std::endian::little)
        return {(pair(high / 100) | pair(high % 100) << 16 | pair(low / 100) << 32 | pair(low % 100) << 48) >>
                    8 * (8 - digits),
                digits};
    else
        return {(pair(high / 100) << 48 | pair(high % 100) << 32 | pair(low / 100) << 16 | pair(low % 100))
                    << 8 * (8 - digits),
                digits};
}

// The decimal digits of value at out, which has room for 20, and the end of
// them: inlined for the short numbers written per message (counts, fields).
[[gnu::always_inline]] inline char *WriteDecimal(char *out, std::uint64_t value)
{
    if (value >= SmallDecimalLimit) [[unlikely]]
        return std::to_chars(out, out + 20, value).ptr;
    const DecimalWord small = SmallDecimal(static_cast<std::uint32_t>(value));
    std::memcpy(out, &small.word, 8);
    return out + small.digits;
}
