#include "metrics/HttpRequestReader.h"

#include <algorithm>
#include <charconv>

namespace {
bool IsTokenChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && std::string_view("\"(),/:;<=>?@[\\]{}").find(c) == std::string_view::npos;
}

bool IsToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

bool SameNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Whether a comma-separated header value names token.
bool ListHas(std::string_view list, std::string_view token)
{
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (SameNoCase(Trimmed(list.substr(0, comma)), token))
            return true;
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return false;
}
} // namespace

HttpRequestReader::Outcome HttpRequestReader::Read(std::string_view bytes, std::size_t &used)
{
    used = 0;
    if (m_phase == Phase::Failed)
        return m_fault;
    while (used < bytes.size()) {
        const std::string_view rest = bytes.substr(used);
        if (m_phase == Phase::Body) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_bodyLeft, rest.size()));
            used += take;
            m_bodyLeft -= take;
            if (m_bodyLeft == 0) {
                m_phase = Phase::RequestLine;
                return Outcome::Request;
            }
            continue;
        }
        const std::size_t end = rest.find('\n');
        const std::size_t piece = end == std::string_view::npos ? rest.size() : end;
        // A header's LF counts too, so what is left for a line leaves room for it.
        const std::size_t left = m_headerBytes < LargestHeaders ? LargestHeaders - m_headerBytes - 1 : 0;
        const std::size_t bound = m_phase == Phase::RequestLine ? LongestLine : std::min(LongestLine, left);
        if (m_line.size() + piece > bound) {
            used += piece;
            return Fail(m_phase == Phase::RequestLine ? Outcome::LineTooLong : Outcome::HeadersTooLarge);
        }
        m_line.append(rest.substr(0, piece));
        used += piece;
        if (end == std::string_view::npos)
            break;
        ++used;
        if (const Outcome outcome = EndLine(); outcome != Outcome::NeedMore)
            return outcome;
    }
    return Outcome::NeedMore;
}

HttpRequestReader::Outcome HttpRequestReader::Fail(Outcome fault)
{
    m_phase = Phase::Failed;
    m_fault = fault;
    m_line.clear();
    return fault;
}

HttpRequestReader::Outcome HttpRequestReader::EndLine()
{
    std::string line = std::move(m_line);
    m_line.clear();
    const std::size_t length = line.size() + 1;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (m_phase == Phase::RequestLine) {
        // Blank lines before a request are allowed, but count against its line.
        if (line.empty()) {
            m_headerBytes += length;
            return m_headerBytes > LongestLine ? Fail(Outcome::LineTooLong) : Outcome::NeedMore;
        }
        return StartRequest(line);
    }
    m_headerBytes += length;
    if (line.empty())
        return EndHeaders();
    const std::size_t colon = line.find(':');
    // A folded line (leading white space) is refused as it may be read two ways.
    if (colon == std::string::npos || !IsToken(std::string_view(line).substr(0, colon)))
        return Fail(Outcome::Malformed);
    const std::string_view name = std::string_view(line).substr(0, colon);
    const std::string_view value = Trimmed(std::string_view(line).substr(colon + 1));
    if (SameNoCase(name, "Content-Length")) {
        std::uint64_t length = 0;
        const auto [stop, fault] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (value.empty() || fault != std::errc{} || stop != value.data() + value.size() ||
            (m_lengthSeen && length != m_bodyLeft))
            return Fail(Outcome::Malformed);
        m_lengthSeen = true;
        m_bodyLeft = length;
    } else if (SameNoCase(name, "Transfer-Encoding")) {
        m_chunked = true;
    } else if (SameNoCase(name, "Connection")) {
        if (ListHas(value, "close"))
            m_close = true;
        if (ListHas(value, "keep-alive"))
            m_keepAliveAsked = true;
    }
    return Outcome::NeedMore;
}

HttpRequestReader::Outcome HttpRequestReader::StartRequest(std::string_view line)
{
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos)
        return Fail(Outcome::Malformed);
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!IsToken(method) || target.empty() ||
        !std::all_of(target.begin(), target.end(),
                     [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7F; }) ||
        (version != "HTTP/1.1" && version != "HTTP/1.0"))
        return Fail(Outcome::Malformed);
    m_request = HttpRequest{std::string(method), std::string(target), false};
    m_version11 = version == "HTTP/1.1";
    m_phase = Phase::Headers;
    m_headerBytes = 0;
    m_bodyLeft = 0;
    m_lengthSeen = m_chunked = m_close = m_keepAliveAsked = false;
    return Outcome::NeedMore;
}

HttpRequestReader::Outcome HttpRequestReader::EndHeaders()
{
    // A body of a size not told first cannot be bounded before it is read.
    if (m_chunked || m_bodyLeft > LargestBody)
        return Fail(Outcome::BodyTooLarge);
    m_request.keepAlive = !m_close && (m_version11 || m_keepAliveAsked);
    m_headerBytes = 0;
    if (m_bodyLeft > 0) {
        m_phase = Phase::Body;
        return Outcome::NeedMore;
    }
    m_phase = Phase::RequestLine;
    return Outcome::Request;
}
