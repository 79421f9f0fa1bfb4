#pragma once

#include <cstdint>
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
