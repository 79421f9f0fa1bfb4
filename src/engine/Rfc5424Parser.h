#pragma once

#include <string>
#include <string_view>

// Splits a received RFC 5424 message into its header fields and walks its
// structured data, without copying: every field points into the message.
struct Rfc5424Fields {
    int priority = 0;
    int version = 0;
    std::string_view timestamp;
    std::string_view hostname;
    std::string_view appName;
    std::string_view procId;
    std::string_view msgId;
    // "-" or the SD elements, brackets included.
    std::string_view structuredData;
    // What follows the structured data and its space; may be empty.
    std::string_view msg;
};

// False when the message is not RFC 5424 ("<PRI>VERSION SP ..."), so the
// caller can read it as RFC 3164 instead. Header fields are taken as runs of
// non-space bytes; the structured data must be "-" or well formed elements.
bool ParseRfc5424(std::string_view message, Rfc5424Fields &fields);

// Only the header up to the structured data, which rest then starts with;
// nothing after it is checked.
bool ParseRfc5424Header(std::string_view message, Rfc5424Fields &fields, std::string_view &rest);

// Walks "[id name="value" ...][id2 ...]". Values stay escaped (\" \\ \]);
// AppendUnescaped turns one into its text.
class SdElementReader {
public:
    explicit SdElementReader(std::string_view structuredData) : m_rest(structuredData) {}
    // Moves to the next element; false at the end or at bytes that are not
    // an element (then Malformed() is true).
    bool NextElement(std::string_view &id);
    // The next parameter of the current element; false at its end.
    bool NextParam(std::string_view &name, std::string_view &rawValue);
    bool Malformed() const { return m_malformed; }
    // The bytes after the last element read (the start of MSG when the
    // reader was given the rest of a message).
    std::string_view Rest() const { return m_rest; }

private:
    bool Fail();
    std::string_view m_rest;
    bool m_inElement = false;
    bool m_malformed = false;
};

// Where the structured data starting at text ends: the length of its
// elements, or 0 when text does not start with a well formed element.
std::size_t StructuredDataLength(std::string_view text);

void AppendUnescaped(std::string &out, std::string_view rawValue);
