#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The number at the start of a text, read leniently: blanks, tabs and line
// feeds anywhere are ignored; an optional sign, digits, fraction and exponent
// (E or D) make a decimal number; &H and &O start a hexadecimal or octal one.
// A text that does not start with a number reads as 0.
double ReadNumber(std::string_view text);

// The default when the value lies outside [min, max], never the nearer bound.
double RangeOrDefault(double value, double min, double max, double defaultValue);

// Nearest integer, halves to the even neighbour; saturates far outside int64.
std::int64_t RoundHalfEven(double value);

// The shortest plain decimal text that reads back as the same value
// (514 -> "514", 12.5 -> "12.5"); never an exponent.
std::string ShortestDecimal(double value);
