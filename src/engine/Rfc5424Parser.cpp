#include "engine/Rfc5424Parser.h"

namespace {
constexpr std::size_t MaxSdName = 32;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// SD-NAME: printable US-ASCII except '=', SP, ']' and '"'.
bool IsSdNameByte(char c)
{
    return c > ' ' && c < 127 && c != '=' && c != ']' && c != '"';
}

std::size_t SdNameLength(std::string_view text)
{
    std::size_t n = 0;
    while (n < text.size() && n <= MaxSdName && IsSdNameByte(text[n]))
        ++n;
    return n <= MaxSdName ? n : 0;
}

// A run of non-space bytes followed by a space; false when either is missing.
bool TakeField(std::string_view &rest, std::string_view &field)
{
    const std::size_t space = rest.find(' ');
    if (space == 0 || space == std::string_view::npos)
        return false;
    field = rest.substr(0, space);
    rest.remove_prefix(space + 1);
    return true;
}
} // namespace

bool ParseRfc5424Header(std::string_view message, Rfc5424Fields &fields, std::string_view &rest)
{
    if (message.size() < 3 || message[0] != '<')
        return false;
    std::size_t at = 1;
    int priority = 0;
    while (at < message.size() && at <= 3 && IsDigit(message[at]))
        priority = priority * 10 + (message[at++] - '0');
    if (at == 1 || at > 4 || at >= message.size() || message[at] != '>' || priority > 191)
        return false;
    ++at;
    int version = 0;
    const std::size_t versionStart = at;
    while (at < message.size() && at - versionStart < 3 && IsDigit(message[at]))
        version = version * 10 + (message[at++] - '0');
    if (at == versionStart || at - versionStart > 2 || message[versionStart] == '0' || at >= message.size() ||
        message[at] != ' ')
        return false;
    rest = message.substr(at + 1);
    fields.priority = priority;
    fields.version = version;
    return TakeField(rest, fields.timestamp) && TakeField(rest, fields.hostname) && TakeField(rest, fields.appName) &&
           TakeField(rest, fields.procId) && TakeField(rest, fields.msgId);
}

bool ParseRfc5424(std::string_view message, Rfc5424Fields &fields)
{
    Rfc5424Fields out;
    std::string_view rest;
    if (!ParseRfc5424Header(message, out, rest))
        return false;
    std::size_t sdLength = 0;
    if (!rest.empty() && rest[0] == '-')
        sdLength = 1;
    else
        sdLength = StructuredDataLength(rest);
    if (sdLength == 0)
        return false;
    out.structuredData = rest.substr(0, sdLength);
    rest.remove_prefix(sdLength);
    if (!rest.empty()) {
        if (rest[0] != ' ')
            return false;
        rest.remove_prefix(1);
    }
    out.msg = rest;
    fields = out;
    return true;
}

bool SdElementReader::Fail()
{
    m_malformed = true;
    m_inElement = false;
    return false;
}

bool SdElementReader::NextElement(std::string_view &id)
{
    std::string_view name;
    std::string_view value;
    while (m_inElement)
        NextParam(name, value);
    if (m_malformed || m_rest.empty() || m_rest[0] != '[')
        return false;
    const std::size_t length = SdNameLength(m_rest.substr(1));
    if (length == 0 || 1 + length >= m_rest.size() || (m_rest[1 + length] != ' ' && m_rest[1 + length] != ']'))
        return Fail();
    id = m_rest.substr(1, length);
    m_rest.remove_prefix(1 + length);
    m_inElement = true;
    return true;
}

bool SdElementReader::NextParam(std::string_view &name, std::string_view &rawValue)
{
    if (!m_inElement)
        return false;
    if (m_rest.empty())
        return Fail();
    if (m_rest[0] == ']') {
        m_rest.remove_prefix(1);
        m_inElement = false;
        return false;
    }
    if (m_rest[0] != ' ')
        return Fail();
    const std::size_t length = SdNameLength(m_rest.substr(1));
    // ' ' name '=' '"'
    if (length == 0 || 3 + length >= m_rest.size() || m_rest[1 + length] != '=' || m_rest[2 + length] != '"')
        return Fail();
    name = m_rest.substr(1, length);
    const std::size_t valueStart = 3 + length;
    std::size_t at = valueStart;
    for (;;) {
        at = m_rest.find('"', at);
        if (at == std::string_view::npos)
            return Fail();
        // Escaped when an odd number of backslashes stands before it.
        std::size_t backslashes = 0;
        while (at - backslashes > valueStart && m_rest[at - backslashes - 1] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            break;
        ++at;
    }
    rawValue = m_rest.substr(valueStart, at - valueStart);
    m_rest.remove_prefix(at + 1);
    if (m_rest.empty() || (m_rest[0] != ' ' && m_rest[0] != ']'))
        return Fail();
    return true;
}

std::size_t StructuredDataLength(std::string_view text)
{
    SdElementReader reader(text);
    std::string_view id;
    std::string_view name;
    std::string_view value;
    bool any = false;
    while (reader.NextElement(id)) {
        any = true;
        while (reader.NextParam(name, value)) {
        }
    }
    if (!any || reader.Malformed())
        return 0;
    return text.size() - reader.Rest().size();
}

void AppendUnescaped(std::string &out, std::string_view rawValue)
{
    for (std::size_t i = 0; i < rawValue.size(); ++i) {
        const char c = rawValue[i];
        if (c == '\\' && i + 1 < rawValue.size()) {
            const char next = rawValue[i + 1];
            if (next == '"' || next == '\\' || next == ']') {
                out.push_back(next);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
}
