#include "engine/StructuredData.h"

#include "engine/MessageFormat.h"

#include <QByteArrayView>

#include <algorithm>

namespace {
constexpr std::size_t MaxSdNameLength = 32;
constexpr std::string_view Escaped = "\"\\]";

std::string Quoted(std::string_view name)
{
    return "'" + std::string(name) + "'";
}

// SD-ID and PARAM-NAME: 1 to 32 printable US-ASCII characters but '=', ']' and '"'.
std::string CheckSdName(std::string_view kind, std::string_view name)
{
    const std::string label(kind);
    if (name.empty())
        return label + " is empty";
    if (name.size() > MaxSdNameLength)
        return label + QuotedIfPrintable(name) + " is " + std::to_string(name.size()) +
               " characters long; at most 32 are allowed";
    for (char c : name) {
        if (c == '=' || c == ']' || c == '"')
            return label + QuotedIfPrintable(name) + " contains '" + c + "'";
        if (const std::string problem = NotPrintableAscii(c); !problem.empty())
            return label + QuotedIfPrintable(name) + " " + problem;
    }
    return {};
}

// Names with '@' are name@enterprise-number, the number digits and dots.
std::string CheckSdId(std::string_view id)
{
    if (std::string problem = CheckSdName("SD-ID", id); !problem.empty())
        return problem;
    const std::size_t at = id.find('@');
    if (at == std::string_view::npos)
        return {};
    const std::string_view number = id.substr(at + 1);
    if (at == 0)
        return "SD-ID " + Quoted(id) + " has no name before '@'";
    if (number.find('@') != std::string_view::npos)
        return "SD-ID " + Quoted(id) + " contains '@' twice";
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string_view::npos || number.front() == '.' ||
        number.back() == '.' || number.find("..") != std::string_view::npos)
        return "SD-ID " + Quoted(id) + " needs an enterprise number after '@' (such as 32473)";
    return {};
}

std::string CheckParamValue(std::string_view name, std::string_view value)
{
    if (!QByteArrayView(value.data(), static_cast<qsizetype>(value.size())).isValidUtf8())
        return "PARAM-VALUE of " + Quoted(name) + " is not UTF-8";
    return {};
}

std::size_t NameEnd(std::string_view text, std::size_t from, std::string_view stops)
{
    const std::size_t end = text.find_first_of(stops, from);
    return end == std::string_view::npos ? text.size() : end;
}
} // namespace

std::string ParseSdElement(std::string_view text, SdElement &element)
{
    element = {};
    if (text.empty() || text.front() != '[')
        return "an SD element starts with '['";
    std::size_t at = NameEnd(text, 1, " ]");
    element.id = text.substr(1, at - 1);
    if (std::string problem = CheckSdId(element.id); !problem.empty())
        return problem;
    while (at < text.size() && text[at] == ' ') {
        const std::size_t nameStart = at + 1;
        at = NameEnd(text, nameStart, " ]=\"");
        SdParam &param = element.params.emplace_back();
        param.name = text.substr(nameStart, at - nameStart);
        if (param.name.empty())
            return "a space in SD element " + Quoted(element.id) + " is not followed by a PARAM-NAME";
        if (std::string problem = CheckSdName("PARAM-NAME", param.name); !problem.empty())
            return problem;
        if (text.substr(at, 2) != "=\"")
            return "PARAM-NAME " + Quoted(param.name) + " is not followed by =\"";
        bool closed = false;
        for (at += 2; at < text.size() && !closed; ++at) {
            const char c = text[at];
            if (c == '\\') {
                if (at + 1 >= text.size() || Escaped.find(text[at + 1]) == std::string_view::npos)
                    return "unescaped '\\' in value of " + Quoted(param.name) + " (write \\\\)";
                param.value.push_back(text[++at]);
            } else if (c == ']') {
                return "unescaped ']' in value of " + Quoted(param.name) + " (write \\])";
            } else if (c == '"') {
                closed = true;
            } else {
                param.value.push_back(c);
            }
        }
        if (!closed)
            return "value of " + Quoted(param.name) + " has no closing '\"'";
        if (std::string problem = CheckParamValue(param.name, param.value); !problem.empty())
            return problem;
        if (at < text.size() && text[at] != ' ' && text[at] != ']')
            return "value of " + Quoted(param.name) +
                   " is not followed by a space or ']' (an unescaped '\"' in it? write \\\")";
    }
    if (at >= text.size())
        return "SD element " + Quoted(element.id) + " has no closing ']'";
    if (at + 1 != text.size())
        return "text follows the closing ']' of SD element " + Quoted(element.id) + " (one element at a time)";
    return {};
}

std::string CheckSdElementText(std::string_view text)
{
    SdElement element;
    return ParseSdElement(text, element);
}

std::string CheckSdElement(const SdElement &element)
{
    if (std::string problem = CheckSdId(element.id); !problem.empty())
        return problem;
    for (const SdParam &param : element.params) {
        if (std::string problem = CheckSdName("PARAM-NAME", param.name); !problem.empty())
            return problem;
        if (std::string problem = CheckParamValue(param.name, param.value); !problem.empty())
            return problem;
    }
    return {};
}

void AppendSdElement(std::string &out, const SdElement &element)
{
    out.push_back('[');
    out += element.id;
    for (const SdParam &param : element.params) {
        out.push_back(' ');
        out += param.name;
        out += "=\"";
        for (char c : param.value) {
            if (Escaped.find(c) != std::string_view::npos)
                out.push_back('\\');
            out.push_back(c);
        }
        out.push_back('"');
    }
    out.push_back(']');
}

std::string SdElementText(const SdElement &element)
{
    std::string text;
    AppendSdElement(text, element);
    return text;
}

std::string CheckSdElements(const std::vector<std::string> &elements)
{
    std::vector<std::string> ids;
    for (const std::string &text : elements) {
        SdElement element;
        if (std::string problem = ParseSdElement(text, element); !problem.empty())
            return problem;
        for (const std::string &id : ids)
            if (id == element.id)
                return "SD-ID " + Quoted(id) + " is given twice; each SD element needs its own SD-ID";
        ids.push_back(element.id);
    }
    return {};
}

std::string SplitStructuredData(std::string_view text, std::vector<std::string> &elements)
{
    std::vector<std::string> found;
    if (text != NilValue) {
        for (std::size_t start = 0; start < text.size();) {
            if (text[start] != '[')
                return "an SD element starts with '['" +
                       (start == 0 ? std::string() : " (no spaces or other text between elements)");
            // Ends at the first ']' outside a quoted value; escapes inside one are skipped.
            std::size_t at = start + 1;
            for (bool quoted = false; at < text.size() && (quoted || text[at] != ']'); ++at) {
                if (quoted && text[at] == '\\')
                    ++at;
                else if (text[at] == '"')
                    quoted = !quoted;
            }
            const std::size_t end = std::min(at + 1, text.size());
            found.emplace_back(text.substr(start, end - start));
            start = end;
        }
    }
    if (std::string problem = CheckSdElements(found); !problem.empty())
        return problem;
    elements = std::move(found);
    return {};
}

void AppendStructuredData(std::string &out, const std::vector<std::string> &elements)
{
    if (elements.empty())
        out += NilValue;
    for (const std::string &element : elements)
        out += element;
}
