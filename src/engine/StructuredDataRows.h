#pragma once

#include <string>
#include <vector>

// Structured data as rows of a table a person fills in: one parameter per
// row, values in plain text.
struct SdRow {
    std::string id;
    std::string name;
    std::string value;
};

// Rows with the same SD-ID make one element, in the order each SD-ID first
// appears; a row with an SD-ID alone adds the element without a parameter;
// rows left wholly empty are skipped. Gives "row N: why" for the first row
// that breaks the RFC's syntax, or nothing; elements (RFC 5424 syntax, values
// escaped) is filled only when every row is sound.
std::string SdElementsFromRows(const std::vector<SdRow> &rows, std::vector<std::string> &elements);

// The rows of elements in RFC 5424 syntax, values unescaped; an element that
// cannot be read is left out.
std::vector<SdRow> SdRowsFromElements(const std::vector<std::string> &elements);
