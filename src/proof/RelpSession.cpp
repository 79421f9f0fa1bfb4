#include "proof/RelpSession.h"

#include "common/Version.h"

#include <algorithm>

namespace {
constexpr std::size_t MaxDigits = 9;
constexpr std::size_t MaxCommand = 32;
constexpr std::uint32_t LastTxnr = 999'999'999;
// The longest data of a command other than syslog (an open's offers take
// less than a hundred bytes), whatever --max-frame says.
constexpr std::size_t OtherLimit = 4096;
// Past these, an emptied buffer gives its memory back: a burst is not
// held for the rest of a session.
constexpr std::size_t KeptCapacity = 16 * 1024;
constexpr std::size_t KeptEnds = 1024;

enum class Parsed { Frame, More, Bad, Oversize };

struct Frame {
    std::uint32_t txnr = 0;
    std::string_view command;
    std::string_view data;
    // The whole frame's, once its header is read (0 before).
    std::size_t size = 0;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// 1 to 9 digits from at, which is left on the byte after them.
Parsed Digits(std::string_view bytes, std::size_t &at, std::uint32_t &value)
{
    const std::size_t from = at;
    value = 0;
    for (; at < bytes.size() && IsDigit(bytes[at]); ++at) {
        if (at - from == MaxDigits)
            return Parsed::Bad;
        value = value * 10 + static_cast<std::uint32_t>(bytes[at] - '0');
    }
    if (at == bytes.size())
        return Parsed::More;
    return at > from ? Parsed::Frame : Parsed::Bad;
}

// TXNR SP COMMAND SP DATALEN [SP DATA] LF from the start of bytes; an
// oversize frame is known by its header, before its data came.
Parsed ParseFrame(std::string_view bytes, std::size_t maxMessage, Frame &frame)
{
    std::size_t at = 0;
    if (const Parsed txnr = Digits(bytes, at, frame.txnr); txnr != Parsed::Frame)
        return txnr;
    if (bytes[at++] != ' ')
        return Parsed::Bad;
    const std::size_t command = at;
    for (; at < bytes.size() && IsLetter(bytes[at]); ++at)
        if (at - command == MaxCommand)
            return Parsed::Bad;
    if (at == bytes.size())
        return Parsed::More;
    if (at == command || bytes[at] != ' ')
        return Parsed::Bad;
    frame.command = bytes.substr(command, at - command);
    std::uint32_t length = 0;
    if (const Parsed digits = Digits(bytes, ++at, length); digits != Parsed::Frame)
        return digits;
    if (length == 0) {
        if (bytes[at] != '\n')
            return Parsed::Bad;
        frame.size = at + 1;
        return Parsed::Frame;
    }
    if (bytes[at] != ' ')
        return Parsed::Bad;
    if (length > (frame.command == "syslog" ? maxMessage : std::max(maxMessage, OtherLimit)))
        return Parsed::Oversize;
    frame.size = at + 1 + length + 1;
    if (bytes.size() < frame.size)
        return Parsed::More;
    if (bytes[frame.size - 1] != '\n')
        return Parsed::Bad;
    frame.data = bytes.substr(at + 1, length);
    return Parsed::Frame;
}

// The client's offers must name syslog among its commands.
bool OffersSyslog(std::string_view offers)
{
    constexpr std::string_view Commands = "commands=";
    while (!offers.empty()) {
        const std::size_t end = std::min(offers.find('\n'), offers.size());
        std::string_view line = offers.substr(0, end);
        offers.remove_prefix(std::min(end + 1, offers.size()));
        if (!line.starts_with(Commands))
            continue;
        line.remove_prefix(Commands.size());
        while (!line.empty()) {
            const std::size_t comma = std::min(line.find(','), line.size());
            if (line.substr(0, comma) == "syslog")
                return true;
            line.remove_prefix(std::min(comma + 1, line.size()));
        }
    }
    return false;
}
} // namespace

RelpSession::RelpSession(std::size_t maxFrame) : m_maxFrame(maxFrame)
{}

// No frame is answered with more than twice its bytes ("1 close 0\n" takes
// 15), but the first open, whose answer is a few dozen bytes longer.
std::size_t RelpSession::ReadRoom() const
{
    if (m_end == End::ByReceiver)
        return std::string::npos;
    if (m_end != End::No || Paused())
        return 0;
    return (AnswerLimit - Answers().size()) / 2;
}

void RelpSession::Feed(std::string_view bytes, FrameHandler &handler)
{
    while (!bytes.empty() && m_end == End::No) {
        if (m_partial.empty()) {
            const std::size_t used = Step(bytes, handler);
            if (used == 0) {
                m_partial.assign(bytes);
                return;
            }
            bytes.remove_prefix(used);
            continue;
        }
        // Only what the frame begun still needs, so m_partial never holds
        // the start of the next.
        const std::size_t wanted = std::min(StillWanted(), bytes.size());
        m_partial.append(bytes.substr(0, wanted));
        bytes.remove_prefix(wanted);
        if (Step(m_partial, handler) > 0)
            ClearPartial();
    }
}

// A byte at a time while the header is incomplete; then the rest at once.
std::size_t RelpSession::StillWanted() const
{
    Frame frame;
    ParseFrame(m_partial, m_maxFrame, frame);
    return frame.size > m_partial.size() ? frame.size - m_partial.size() : 1;
}

// One frame from the start of bytes: its size, or 0 while it is incomplete;
// all of them when it ended the session.
std::size_t RelpSession::Step(std::string_view bytes, FrameHandler &handler)
{
    Frame frame;
    switch (ParseFrame(bytes, m_maxFrame, frame)) {
    case Parsed::More:
        return 0;
    case Parsed::Oversize:
        Break(m_counts.oversize);
        return bytes.size();
    case Parsed::Bad:
        Break(m_counts.malformed);
        return bytes.size();
    case Parsed::Frame:
        break;
    }
    Handle(frame.txnr, frame.command, frame.data, handler);
    return frame.size;
}

void RelpSession::Handle(std::uint32_t txnr, std::string_view command, std::string_view data, FrameHandler &handler)
{
    if (txnr != m_nextTxnr) {
        Break(m_counts.malformed);
        return;
    }
    m_nextTxnr = txnr == LastTxnr ? 1 : txnr + 1;
    if (command == "syslog" && m_opened) {
        ++m_counts.frames;
        handler.OnFrame(data);
        Answer(txnr, "200 OK");
        m_ackEnds.push_back(static_cast<std::uint32_t>(m_answers.size()));
    } else if (command == "open" && m_opened) {
        Answer(txnr, "200 OK");
    } else if (command == "open" && OffersSyslog(data)) {
        m_opened = true;
        Answer(txnr, std::string("200 OK\nrelp_version=0\nrelp_software=quillon-recv,") + QuillonVersion::VersionText +
                         "\ncommands=syslog\n");
    } else if (command == "open") {
        Answer(txnr, "500 required command not supported by client");
        m_end = End::Broken;
    } else if (command == "close") {
        Answer(txnr, "200 OK");
        m_end = End::ByClient;
    } else {
        Break(m_counts.malformed);
    }
}

void RelpSession::Answer(std::uint32_t txnr, std::string_view text)
{
    m_answers += std::to_string(txnr);
    m_answers += " rsp ";
    m_answers += std::to_string(text.size());
    m_answers += ' ';
    m_answers += text;
    m_answers += '\n';
}

void RelpSession::Break(std::uint64_t &counter)
{
    ++counter;
    m_end = End::Broken;
    ClearPartial();
}

void RelpSession::ClearPartial()
{
    m_partial.clear();
    if (m_partial.capacity() > KeptCapacity)
        m_partial.shrink_to_fit();
}

void RelpSession::Sent(std::size_t bytes)
{
    m_answersSent = std::min(m_answersSent + bytes, m_answers.size());
    for (; m_ackAt < m_ackEnds.size() && m_ackEnds[m_ackAt] <= m_answersSent; ++m_ackAt)
        ++m_acknowledged;
    if (m_answersSent == m_answers.size()) {
        m_answers.clear();
        m_ackEnds.clear();
        if (m_answers.capacity() > KeptCapacity)
            m_answers.shrink_to_fit();
        if (m_ackEnds.capacity() > KeptEnds)
            m_ackEnds.shrink_to_fit();
    } else if (m_answersSent >= AnswerLimit) {
        // A client that takes its answers slowly never empties them.
        m_answers.erase(0, m_answersSent);
        m_ackEnds.erase(m_ackEnds.begin(), m_ackEnds.begin() + static_cast<std::ptrdiff_t>(m_ackAt));
        for (std::uint32_t &end : m_ackEnds)
            end -= static_cast<std::uint32_t>(m_answersSent);
    } else {
        return;
    }
    m_answersSent = 0;
    m_ackAt = 0;
}

void RelpSession::EndByReceiver()
{
    if (m_end != End::No)
        return;
    if (m_opened)
        m_answers += "0 serverclose 0\n";
    m_end = End::ByReceiver;
    ClearPartial();
}

void RelpSession::Finish()
{
    if (!m_partial.empty() && m_end == End::No)
        ++m_counts.malformed;
    ClearPartial();
}
