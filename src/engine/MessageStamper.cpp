#include "engine/MessageStamper.h"

#include "common/TextHelpers.h"
#include "engine/Stamp.h"

#include <algorithm>
#include <charconv>

namespace {
constexpr std::string_view HexPrefix = "HEX=";

// The parts of a stamp that change from message to message.
struct StampTail {
    std::string_view between; // after SEQ
    std::string_view beforeMac;
    std::string_view end;
};
constexpr StampTail ElementTail{"\" t=\"", "\" mac=\"", "\"]"};
constexpr StampTail TokenTail{":", ":", ""};

// "SEQ" + between + "T" (+ beforeMac + "MAC") + end, formatted in one go.
std::string_view Numbers(char (&out)[96], std::uint64_t seq, std::int64_t sentUs,
                         const std::optional<std::uint64_t> &mac, const StampTail &tail)
{
    char *at = std::to_chars(out, out + 20, seq).ptr;
    at = std::copy(tail.between.begin(), tail.between.end(), at);
    at = std::to_chars(at, at + 20, static_cast<std::uint64_t>(sentUs)).ptr;
    if (mac) {
        at = std::copy(tail.beforeMac.begin(), tail.beforeMac.end(), at);
        for (int shift = 60; shift >= 0; shift -= 4)
            *at++ = "0123456789abcdef"[(*mac >> shift) & 0xf];
    }
    at = std::copy(tail.end.begin(), tail.end.end(), at);
    return std::string_view(out, static_cast<std::size_t>(at - out));
}
} // namespace

// Each form's text up to the sequence number is the same for every message.
MessageStamper::MessageStamper(std::string run, std::uint64_t stream, const StampKey *key)
    : m_run(std::move(run)), m_stream(stream)
{
    if (key)
        m_mac.emplace(*key);
    const Stamp sample{m_run, m_stream, 1, 0};
    AppendStampElement(m_elementHead, sample);
    m_elementHead.resize(m_elementHead.rfind("seq=\"") + 5);
    AppendStampToken(m_tokenHead, sample);
    m_tokenHead.resize(m_tokenHead.size() - 3); // "1:0"
}

ComposedView MessageStamper::Apply(const ComposedView &message, std::int64_t sentUs)
{
    m_tokenLength = 0;
    if (StartsWithNoCase(message.MessageBody, HexPrefix))
        return message;
    char numbers[96];
    const std::uint64_t seq = m_next++;
    std::optional<std::uint64_t> mac;
    if (m_mac)
        mac = m_mac->Of(m_run, m_stream, seq, sentUs);
    ComposedView stamped = message;
    if (message.Format == MessageFormat::Rfc5424) {
        // The header ends in its structured data: "-" or elements, which end in "]".
        std::string_view header = message.RfcHeaderText;
        if (!header.empty() && header.back() == '-')
            header.remove_suffix(1);
        m_header.assign(header);
        m_header += m_elementHead;
        m_header += Numbers(numbers, seq, sentUs, mac, ElementTail);
        stamped.RfcHeaderText = m_header;
    } else {
        // The token stands on its own: after a space, also when the body is
        // empty and only the priority comes before it.
        const std::string_view before = !message.MessageBody.empty()           ? message.MessageBody
                                        : !message.OriginalAddressText.empty() ? message.OriginalAddressText
                                                                               : message.RfcHeaderText;
        m_body.assign(message.MessageBody);
        if (before.empty() || before.back() != ' ')
            m_body.push_back(' ');
        const std::size_t space = m_body.size() - 1;
        m_body += m_tokenHead;
        m_body += Numbers(numbers, seq, sentUs, mac, TokenTail);
        m_tokenLength = m_body.size() - space;
        stamped.MessageBody = m_body;
    }
    return stamped;
}

std::size_t MessageStamper::TokenLengthOf(std::uint64_t seq, std::int64_t sentUs) const
{
    char numbers[96];
    // The MAC's digits are as many whatever it is.
    const std::optional<std::uint64_t> mac = m_mac ? std::optional<std::uint64_t>(0) : std::nullopt;
    return 1 + m_tokenHead.size() + Numbers(numbers, seq, sentUs, mac, TokenTail).size();
}

std::optional<std::uint64_t> MessageStamper::MacOf(std::uint64_t seq, std::int64_t sentUs) const
{
    if (!m_mac)
        return std::nullopt;
    return m_mac->Of(m_run, m_stream, seq, sentUs);
}
