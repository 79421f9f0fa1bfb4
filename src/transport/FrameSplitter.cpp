#include "transport/FrameSplitter.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int MaxDigits = 10;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsTrailerByte(char c)
{
    return c == '\n' || c == '\r' || c == '\0';
}
} // namespace

FrameSplitter::FrameSplitter(StreamFraming framing, std::size_t maxFrame)
    : m_framing(framing), m_maxFrame(std::clamp<std::size_t>(maxFrame, 1, std::size_t{1} << 30))
{
    if (framing == StreamFraming::OctetCount) {
        m_octet = true;
        m_state = State::Header;
    } else if (framing != StreamFraming::Auto) {
        m_state = State::Text;
    }
}

void FrameSplitter::Feed(std::string_view bytes, FrameHandler &handler)
{
    while (!bytes.empty()) {
        std::size_t used = 0;
        switch (m_state) {
        case State::Start:
            // Blank lines before the first message decide nothing.
            while (used < bytes.size() && (IsTrailerByte(bytes[used]) || bytes[used] == ' '))
                ++used;
            if (used < bytes.size()) {
                m_octet = IsDigit(bytes[used]);
                m_state = m_octet ? State::Header : State::Text;
            }
            break;
        case State::Header:
            used = FeedHeader(bytes);
            break;
        case State::Body:
        case State::Skip:
            used = FeedBody(bytes, handler);
            break;
        case State::Resync:
            used = FeedResync(bytes);
            break;
        case State::Text:
        case State::TextSkip:
            used = FeedText(bytes, handler);
            break;
        }
        bytes.remove_prefix(used);
    }
}

void FrameSplitter::Finish(FrameHandler &handler)
{
    if (m_state == State::Body || (m_state == State::Header && m_digits > 0))
        ++m_counts.malformed;
    if (m_state == State::Text && !m_buffer.empty())
        Deliver(m_buffer, handler);
    m_buffer.clear();
    m_digits = 0;
    m_length = 0;
    m_lastByte = 0;
    if (m_state != State::Text && m_state != State::TextSkip && m_state != State::Start)
        m_state = State::Header;
    else if (m_state == State::TextSkip)
        m_state = State::Text;
}

void FrameSplitter::StartResync()
{
    ++m_counts.malformed;
    m_state = State::Resync;
    m_digits = 0;
    m_length = 0;
    m_sawSpace = false;
}

std::size_t FrameSplitter::FeedHeader(std::string_view bytes)
{
    std::size_t at = 0;
    // Stray trailers between frames are common and harmless.
    if (m_digits == 0)
        while (at < bytes.size() && IsTrailerByte(bytes[at]))
            ++at;
    for (; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (IsDigit(c)) {
            if ((m_digits == 0 && c == '0') || m_digits == MaxDigits) {
                StartResync();
                return at + 1;
            }
            m_length = m_length * 10 + static_cast<std::uint64_t>(c - '0');
            ++m_digits;
            continue;
        }
        if (c != ' ' || m_digits == 0) {
            StartResync();
            return at + 1;
        }
        m_digits = 0;
        if (m_length <= m_maxFrame) {
            m_state = State::Body;
        } else if (m_length <= m_maxFrame * SkipFactor) {
            ++m_counts.oversize;
            m_state = State::Skip;
        } else {
            StartResync();
        }
        return at + 1;
    }
    return at;
}

std::size_t FrameSplitter::FeedBody(std::string_view bytes, FrameHandler &handler)
{
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(m_length, bytes.size()));
    m_length -= take;
    if (m_state == State::Body) {
        if (m_length == 0 && m_buffer.empty()) {
            Deliver(bytes.substr(0, take), handler);
        } else {
            m_buffer.append(bytes.data(), take);
            if (m_length == 0) {
                Deliver(m_buffer, handler);
                m_buffer.clear();
            }
        }
    }
    if (m_length == 0)
        m_state = State::Header;
    return take;
}

// Looks for "LEN SP <" after garbage: the digits must not start with 0 and
// the length must be within the limit; the '<' is the message's first byte.
std::size_t FrameSplitter::FeedResync(std::string_view bytes)
{
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (IsDigit(c)) {
            if (m_sawSpace || m_digits < 0) {
                m_sawSpace = false;
                m_digits = 0;
                m_length = 0;
            }
            if (m_digits == 0 && c == '0')
                continue;
            if (m_digits == MaxDigits) {
                m_digits = -1; // too long: wait for a non-digit
                continue;
            }
            m_length = m_length * 10 + static_cast<std::uint64_t>(c - '0');
            ++m_digits;
        } else if (c == ' ' && m_digits > 0 && !m_sawSpace) {
            m_sawSpace = true;
        } else if (c == '<' && m_sawSpace && m_length <= m_maxFrame) {
            m_digits = 0;
            m_sawSpace = false;
            m_state = State::Body;
            return at;
        } else {
            m_digits = 0;
            m_length = 0;
            m_sawSpace = false;
        }
    }
    return bytes.size();
}

std::size_t FrameSplitter::FindTrailer(std::string_view bytes) const
{
    const char *data = bytes.data();
    const std::size_t size = bytes.size();
    switch (m_framing) {
    case StreamFraming::Nul: {
        const void *found = std::memchr(data, '\0', size);
        return found ? static_cast<std::size_t>(static_cast<const char *>(found) - data) : std::string_view::npos;
    }
    case StreamFraming::Lf: {
        const void *found = std::memchr(data, '\n', size);
        return found ? static_cast<std::size_t>(static_cast<const char *>(found) - data) : std::string_view::npos;
    }
    case StreamFraming::CrLf: {
        // A lone LF belongs to the message.
        std::size_t from = 0;
        while (from < size) {
            const void *found = std::memchr(data + from, '\n', size - from);
            if (!found)
                return std::string_view::npos;
            const std::size_t at = static_cast<std::size_t>(static_cast<const char *>(found) - data);
            if ((at > 0 ? data[at - 1] : m_lastByte) == '\r')
                return at;
            from = at + 1;
        }
        return std::string_view::npos;
    }
    default: {
        const void *lf = std::memchr(data, '\n', size);
        const std::size_t limit = lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - data) : size;
        const void *nul = std::memchr(data, '\0', limit);
        if (nul)
            return static_cast<std::size_t>(static_cast<const char *>(nul) - data);
        return lf ? limit : std::string_view::npos;
    }
    }
}

std::size_t FrameSplitter::FeedText(std::string_view bytes, FrameHandler &handler)
{
    const std::size_t end = FindTrailer(bytes);
    if (end == std::string_view::npos) {
        if (m_state == State::Text) {
            // One more byte than the limit: the CR of a CR LF still to come.
            if (m_buffer.size() + bytes.size() > m_maxFrame + 1) {
                ++m_counts.oversize;
                m_buffer.clear();
                m_state = State::TextSkip;
            } else {
                m_buffer.append(bytes);
            }
        }
        m_lastByte = bytes.back();
        return bytes.size();
    }
    const bool dropCr = bytes[end] == '\n' && m_framing != StreamFraming::Lf &&
                        (end > 0 ? bytes[end - 1] == '\r' : !m_buffer.empty() && m_buffer.back() == '\r');
    if (m_state == State::TextSkip) {
        m_state = State::Text;
    } else if (m_buffer.empty()) {
        Deliver(bytes.substr(0, end - (dropCr ? 1 : 0)), handler);
    } else if (m_buffer.size() + end > m_maxFrame + 1) {
        ++m_counts.oversize;
        m_buffer.clear();
    } else {
        m_buffer.append(bytes.data(), end);
        if (dropCr)
            m_buffer.pop_back();
        Deliver(m_buffer, handler);
        m_buffer.clear();
    }
    m_lastByte = bytes[end];
    return end + 1;
}

void FrameSplitter::Deliver(std::string_view frame, FrameHandler &handler)
{
    if (frame.empty())
        return;
    if (frame.size() > m_maxFrame) {
        ++m_counts.oversize;
        return;
    }
    ++m_counts.frames;
    handler.OnFrame(frame);
}
