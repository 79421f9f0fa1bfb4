#include "transport/FrameSplitter.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t MaxDigits = 10;
// Blank lines tolerated between a frame and the next header.
constexpr std::size_t MaxBlanks = 4;
constexpr std::size_t None = std::string_view::npos;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsTrailerByte(char c)
{
    return c == '\n' || c == '\r' || c == '\0';
}

enum class Answer { Yes, No, More };

// Whether a header ("LEN SP", blank lines before it allowed) starts at `at`;
// the end of the stream counts as yes. need: the bytes wanted when More.
Answer HeaderAt(std::string_view data, std::size_t at, bool end, std::size_t &need)
{
    const std::size_t from = at;
    while (at < data.size() && IsTrailerByte(data[at]) && at - from < MaxBlanks)
        ++at;
    std::size_t digits = 0;
    for (;; ++at) {
        if (at >= data.size()) {
            need = at + 1;
            return end ? Answer::Yes : Answer::More;
        }
        const char c = data[at];
        if (!IsDigit(c) || digits == MaxDigits)
            return digits > 0 && c == ' ' ? Answer::Yes : Answer::No;
        if (digits == 0 && c == '0')
            return Answer::No;
        ++digits;
    }
}

// Whether the message of `length` bytes at `at` starts with "<PRI>" (one to
// three digits), as a syslog message does; More while its first bytes are
// still to come, need then the bytes wanted.
Answer PriorityAt(std::string_view data, std::size_t at, std::uint64_t length, std::size_t &need)
{
    const std::size_t within = static_cast<std::size_t>(std::min<std::uint64_t>(length, 5));
    for (std::size_t i = 0; i < within; ++i) {
        if (at + i >= data.size()) {
            need = at + i + 1;
            return Answer::More;
        }
        const char c = data[at + i];
        if (i == 0 && c == '<')
            continue;
        if (i > 1 && c == '>')
            return Answer::Yes;
        if (i == 0 || !IsDigit(c))
            return Answer::No;
    }
    return Answer::No;
}

// Where the digits of the first "LEN SP <DIGIT" inside a message start; npos
// for none.
std::size_t FirstHeaderInside(std::string_view message)
{
    for (std::size_t q = message.find('<', 2); q != None && q + 1 < message.size(); q = message.find('<', q + 1)) {
        if (message[q - 1] != ' ' || !IsDigit(message[q + 1]) || !IsDigit(message[q - 2]))
            continue;
        std::size_t first = q - 2;
        while (first > 0 && IsDigit(message[first - 1]) && q - 1 - first < MaxDigits)
            --first;
        return first;
    }
    return None;
}

// Whether a header starts at `at`: "LEN SP <DIGIT", junk digits before the
// length allowed, all of them at most MaxDigits; with last (bytes end the
// stream), also junk digits up to the end. A tail of a frame's length digits
// ends it at least 10 bytes short, so the digits that end a message (a
// stamp's time) never make one there.
bool HeaderGluedAt(std::string_view bytes, std::size_t at, bool last)
{
    std::size_t end = at;
    while (end < bytes.size() && IsDigit(bytes[end]) && end - at < MaxDigits)
        ++end;
    if (end == at)
        return false;
    if (end == bytes.size())
        return last;
    return end + 2 < bytes.size() && bytes[end] == ' ' && bytes[end + 1] == '<' && IsDigit(bytes[end + 2]);
}
} // namespace

// A length read at some point of the stream: its digits and value.
struct FrameSplitter::Candidate {
    std::string_view digits;
    std::uint64_t length = 0;

    // Junk digits glued to a real header: how many lead the digits. A tail
    // that as a length ends the frame right where a header starts is sure
    // (digit junk between frames); failing that, the longest tail that ends
    // it before the first header inside.
    struct Glue {
        std::size_t skip = 0;
        bool sure = false;
    };
    Glue JunkBefore(std::string_view body, bool last) const
    {
        const std::size_t inside = FirstHeaderInside(body);
        Glue glue;
        if (inside == None && !last)
            return glue;
        for (std::size_t skip = 1; skip < digits.size(); ++skip) {
            if (digits[skip] == '0')
                continue;
            std::uint64_t value = 0;
            for (char c : digits.substr(skip))
                value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value < body.size() && HeaderGluedAt(body, static_cast<std::size_t>(value), last))
                return {skip, true};
            if (glue.skip == 0 && inside != None && value <= inside)
                glue.skip = skip;
        }
        return glue;
    }
};

FrameSplitter::FrameSplitter(Framing framing, std::size_t maxFrame)
    : m_framing(framing), m_maxFrame(std::clamp<std::size_t>(maxFrame, 1, std::size_t{1} << 30))
{
    if (framing == Framing::OctetCount) {
        m_octet = true;
        m_state = State::Octet;
    } else if (framing != Framing::Auto) {
        m_state = State::Text;
    }
}

Framing FrameSplitter::FramingInUse() const
{
    if (m_octet)
        return Framing::OctetCount;
    if (m_framing == Framing::Auto && (m_state == State::Text || m_state == State::TextSkip))
        return Framing::Lf;
    return m_framing;
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
                m_state = m_octet ? State::Octet : State::Record;
            }
            break;
        case State::Octet:
            FeedOctet(bytes, handler, false);
            return;
        case State::Record:
            used = FeedRecord(bytes, handler);
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
    if (m_state == State::Octet) {
        FeedOctet({}, handler, true);
        m_skip = 0;
        m_inStep = true;
        m_junk = false;
        return;
    }
    if (m_state == State::Record) {
        // A stream that ended before its first record did: read as lines.
        std::string held;
        held.swap(m_buffer);
        m_state = State::Text;
        Feed(held, handler);
    }
    if (m_state == State::Text && !m_buffer.empty())
        Deliver(m_buffer, handler);
    m_buffer.clear();
    m_lastByte = 0;
    if (m_state == State::TextSkip)
        m_state = State::Text;
}

void FrameSplitter::Abandon()
{
    if (Buffered() > 0 || m_skip > 0)
        ++m_counts.malformed;
    m_buffer.clear();
    m_bufferAt = 0;
    m_skip = 0;
}

// ---- Octet counting ----

void FrameSplitter::FeedOctet(std::string_view bytes, FrameHandler &handler, bool end)
{
    for (;;) {
        if (m_skip > 0) {
            // Nothing is held while a frame is skipped.
            const std::size_t drop = static_cast<std::size_t>(std::min<std::uint64_t>(m_skip, bytes.size()));
            m_skip -= drop;
            bytes.remove_prefix(drop);
            if (m_skip > 0)
                return;
        }
        if (Buffered() == 0) {
            if (bytes.empty())
                return;
            const Step step = DecideOctet(bytes, end);
            if (step.kind == Step::Kind::More) {
                m_buffer.assign(bytes);
                m_bufferAt = 0;
                return;
            }
            Apply(step, bytes, handler);
            bytes.remove_prefix(std::min(step.size, bytes.size()));
            continue;
        }
        const std::string_view held = std::string_view(m_buffer).substr(m_bufferAt);
        const Step step = DecideOctet(held, end && bytes.empty());
        if (step.kind == Step::Kind::More) {
            if (bytes.empty())
                return;
            const std::size_t take = std::min(step.size - held.size(), bytes.size());
            m_buffer.append(bytes.data(), take);
            bytes.remove_prefix(take);
            continue;
        }
        Apply(step, held, handler);
        Consume(std::min(step.size, held.size()));
    }
}

void FrameSplitter::Consume(std::size_t used)
{
    m_bufferAt += used;
    if (m_bufferAt == m_buffer.size()) {
        m_buffer.clear();
        m_bufferAt = 0;
    } else if (m_bufferAt > m_buffer.size() / 2) {
        m_buffer.erase(0, m_bufferAt);
        m_bufferAt = 0;
    }
}

void FrameSplitter::Apply(const Step &step, std::string_view data, FrameHandler &handler)
{
    switch (step.kind) {
    case Step::Kind::More:
    case Step::Kind::Blank:
        return;
    case Step::Kind::Junk:
        if (!m_junk)
            ++m_counts.malformed;
        m_junk = true;
        m_inStep = false;
        return;
    case Step::Kind::Frame:
        // A frame straight after another, with no junk between, is in step.
        m_inStep = m_inStep || !m_junk;
        m_junk = false;
        Deliver(data.substr(step.offset, step.length), handler);
        return;
    case Step::Kind::Skip:
        ++m_counts.oversize;
        m_junk = false;
        if (step.size > data.size())
            m_skip = step.size - data.size();
        return;
    }
}

// Decides the bytes at the start of data: blank lines, a frame, a frame to
// skip, or junk up to the next place a header may start.
FrameSplitter::Step FrameSplitter::DecideOctet(std::string_view data, bool end) const
{
    std::size_t blanks = 0;
    while (blanks < data.size() && IsTrailerByte(data[blanks]))
        ++blanks;
    if (blanks > 0)
        return {Step::Kind::Blank, blanks};
    if (m_inStep && !m_junk) {
        Step step = Examine(data, 0, end);
        if (step.kind == Step::Kind::Junk && step.size == 0)
            step.size = 1;
        return step;
    }
    for (std::size_t at = 0; at < data.size(); ++at) {
        if (!IsDigit(data[at]) || data[at] == '0')
            continue;
        const Step step = Examine(data, at, end);
        if (step.kind == Step::Kind::More)
            return at > 0 ? Step{Step::Kind::Junk, at} : step;
        if (step.kind == Step::Kind::Frame) {
            if (at == 0)
                return step;
            return {Step::Kind::Junk, at};
        }
        // Junk digits before a header: look again where its own digits start.
        if (step.kind == Step::Kind::Junk && step.size > at + 1)
            at = step.size - 1;
    }
    return {Step::Kind::Junk, data.size()};
}

// The header at `start`: a frame, a frame to skip, More, or Junk up to
// where to look next (0: nowhere in particular).
FrameSplitter::Step FrameSplitter::Examine(std::string_view data, std::size_t start, bool end) const
{
    const bool inStep = m_inStep && !m_junk;
    const Step junk{Step::Kind::Junk, 0};
    // A stream cut inside a frame is malformed too; out of step the frame
    // may have been junk digits glued to a whole frame behind them.
    const auto cut = [&](std::size_t need) {
        return !end ? Step{Step::Kind::More, need} : inStep ? Step{Step::Kind::Junk, data.size()} : junk;
    };

    Candidate header;
    std::size_t at = start;
    for (; at < data.size() && IsDigit(data[at]); ++at) {
        if ((at == start && data[at] == '0') || at - start == MaxDigits)
            return junk;
        header.length = header.length * 10 + static_cast<std::uint64_t>(data[at] - '0');
    }
    if (at >= data.size())
        return at > start ? cut(at + 1) : junk;
    if (at == start || data[at] != ' ')
        return junk;
    header.digits = data.substr(start, at - start);
    const std::size_t message = at + 1;
    const std::uint64_t length = header.length;
    if (length > m_maxFrame * (inStep ? SkipFactor : 1))
        return junk;
    // A length followed by no syslog message was junk, whatever follows:
    // taken, it would swallow the frames it covers.
    std::size_t need = 0;
    switch (PriorityAt(data, message, length, need)) {
    case Answer::Yes:
        break;
    case Answer::More:
        return cut(need);
    case Answer::No:
        return junk;
    }
    const std::size_t seen = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_maxFrame));
    if (message + seen > data.size() && !end)
        return {Step::Kind::More, message + seen};
    const std::string_view body = data.substr(message, seen);

    // Junk digits glued to a real header: the tail of the digits ends the
    // frame before the header found inside it.
    // A sure one outweighs a header after the whole frame, where the length
    // junk digits and a real one make ends now and then.
    const bool last = end && message + body.size() == data.size();
    const Candidate::Glue glue = header.digits.size() > 1 ? header.JunkBefore(body, last) : Candidate::Glue{};
    const std::size_t tail = glue.skip;
    if (glue.sure)
        return {Step::Kind::Junk, start + tail};
    if (body.size() < seen)
        return tail > 0 ? Step{Step::Kind::Junk, start + tail} : cut(0);

    if (length > m_maxFrame) {
        if (tail > 0)
            return {Step::Kind::Junk, start + tail};
        return {Step::Kind::Skip, message + static_cast<std::size_t>(length)};
    }
    const std::size_t after = message + seen;
    const Step frame{Step::Kind::Frame, after, message, seen};
    if (tail == 0)
        return frame;
    // Out of step the tail of a real header after junk would confirm a junk
    // "LEN SP" before it.
    if (!inStep)
        return {Step::Kind::Junk, start + tail};
    // A message quoting a header is whole when the next header follows it.
    switch (HeaderAt(data, after, end, need)) {
    case Answer::Yes:
        return frame;
    case Answer::More:
        return {Step::Kind::More, need};
    case Answer::No:
        break;
    }
    return {Step::Kind::Junk, start + tail};
}

// ---- Text ----

// The first record of an Auto text stream, held until it shows how it ends:
// "\0<" (a NUL, then the next message) before "\n<" makes the stream NUL
// framed.
std::size_t FrameSplitter::FeedRecord(std::string_view bytes, FrameHandler &handler)
{
    const std::size_t take = std::min(bytes.size(), m_maxFrame + 1 - std::min(m_buffer.size(), m_maxFrame));
    m_buffer.append(bytes.data(), take);
    bool decided = false;
    for (; m_searched < m_buffer.size() && !decided; ++m_searched) {
        const char c = m_buffer[m_searched];
        if (c != '\0' && c != '\n')
            continue;
        if (m_searched + 1 == m_buffer.size())
            break;
        decided = m_buffer[m_searched + 1] == '<';
        if (decided && c == '\0')
            m_framing = Framing::Nul;
    }
    // A record longer than a message may be shows nothing more.
    decided = decided || m_buffer.size() > m_maxFrame;
    if (decided) {
        std::string held;
        held.swap(m_buffer);
        m_state = State::Text;
        Feed(held, handler);
    }
    return take;
}

std::size_t FrameSplitter::FindTrailer(std::string_view bytes) const
{
    const char *data = bytes.data();
    const std::size_t size = bytes.size();
    switch (m_framing) {
    case Framing::Nul: {
        const void *found = std::memchr(data, '\0', size);
        return found ? static_cast<std::size_t>(static_cast<const char *>(found) - data) : None;
    }
    case Framing::Lf: {
        const void *found = std::memchr(data, '\n', size);
        return found ? static_cast<std::size_t>(static_cast<const char *>(found) - data) : None;
    }
    case Framing::CrLf: {
        // A lone LF belongs to the message.
        std::size_t from = 0;
        while (from < size) {
            const void *found = std::memchr(data + from, '\n', size - from);
            if (!found)
                return None;
            const std::size_t at = static_cast<std::size_t>(static_cast<const char *>(found) - data);
            if ((at > 0 ? data[at - 1] : m_lastByte) == '\r')
                return at;
            from = at + 1;
        }
        return None;
    }
    default: {
        const void *lf = std::memchr(data, '\n', size);
        const std::size_t limit = lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - data) : size;
        const void *nul = std::memchr(data, '\0', limit);
        if (nul)
            return static_cast<std::size_t>(static_cast<const char *>(nul) - data);
        return lf ? limit : None;
    }
    }
}

std::size_t FrameSplitter::FeedText(std::string_view bytes, FrameHandler &handler)
{
    const std::size_t end = FindTrailer(bytes);
    if (end == None) {
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
    const bool dropCr = bytes[end] == '\n' && m_framing != Framing::Lf &&
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
