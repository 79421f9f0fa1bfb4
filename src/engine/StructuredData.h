#pragma once

#include <string>
#include <string_view>
#include <vector>

// One SD element as a person types it: values in plain text, unescaped.
struct SdParam {
    std::string name;
    std::string value;
};
struct SdElement {
    std::string id;
    std::vector<SdParam> params;
};

// Reads an element written in RFC 5424 syntax ([id name="value" ...], with
// '"', '\' and ']' escaped in values) into element, values unescaped. Gives
// an error text in the user's words, or nothing when the element is sound.
std::string ParseSdElement(std::string_view text, SdElement &element);
[[nodiscard]] std::string CheckSdElementText(std::string_view text);

// The same checks for an element given in plain text.
[[nodiscard]] std::string CheckSdElement(const SdElement &element);

// The element in RFC 5424 syntax, its values escaped.
void AppendSdElement(std::string &out, const SdElement &element);
std::string SdElementText(const SdElement &element);

// Elements in RFC 5424 syntax: each sound, no SD-ID twice.
[[nodiscard]] std::string CheckSdElements(const std::vector<std::string> &elements);

// A STRUCTURED-DATA field ("-", empty, or elements one after another) split
// into its elements, each then checked as above. Gives an error text, or
// nothing; elements is filled only when the whole text is sound.
std::string SplitStructuredData(std::string_view text, std::vector<std::string> &elements);

// The STRUCTURED-DATA field: the elements one after another, or "-".
void AppendStructuredData(std::string &out, const std::vector<std::string> &elements);
