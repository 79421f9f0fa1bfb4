#include "engine/MessageComposer.h"

#include "common/Clock.h"
#include "common/Random.h"
#include "common/TextHelpers.h"
#include "sources/SourceFile.h"

#include <cstdio>

namespace {
constexpr std::string_view NumberMark = "####";
constexpr std::string_view OriginalAddress = "Original Address=";
constexpr std::size_t MaxTagLength = 32;

std::string ReplaceAll(std::string_view text, std::string_view mark, std::string_view with)
{
    std::string out;
    out.reserve(text.size() + with.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(mark); at != std::string_view::npos; at = text.find(mark, from)) {
        out += text.substr(from, at - from);
        out += with;
        from = at + mark.size();
    }
    out += text.substr(from);
    return out;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Looked for in every message, so without lower-casing a copy of the text
// (once over half the cost of composing a long message). The phrase ends in
// the number mark, which has no case, so the mark is found first.
bool ContainsNumberedPhrase(std::string_view text)
{
    const std::string_view phrase = MessageEntries::NumberedPhrase;
    const std::size_t lead = phrase.size() - NumberMark.size();
    for (std::size_t at = text.find(NumberMark, lead); at != std::string_view::npos;
         at = text.find(NumberMark, at + 1)) {
        std::size_t i = 0;
        while (i < lead && LowerAscii(text[at - lead + i]) == phrase[i])
            ++i;
        if (i == lead)
            return true;
    }
    return false;
}

std::string SourceTextFor(const std::string &address)
{
    if (!IsDottedQuad(address))
        return {};
    std::string text(OriginalAddress);
    text += address;
    text.push_back(' ');
    return text;
}

std::string TwoDigits(int value)
{
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%02d", value % 100);
    return buffer;
}
} // namespace

MessageComposer::MessageComposer(SendState &state, const ComposeInputs &inputs, const Clock &clock, SourceFile &source)
    : m_state(state), m_inputs(inputs), m_clock(clock), m_source(source)
{}

ComposedMessage MessageComposer::ComposeMessage(SendingKind kind)
{
    ComposedMessage message;
    message.MessageBody = Body();
    message.OriginalAddressText = SourceText(kind);
    message.RfcHeaderText = Header();
    return message;
}

std::string MessageComposer::Body()
{
    const std::string &text = m_state.MessageText;
    if (ContainsNumberedPhrase(text)) {
        // 64 bits, so a counter stored out of range wraps instead of overflowing.
        const std::int64_t next = static_cast<std::int64_t>(m_state.SequenceNumber) + 1;
        m_state.SequenceNumber = next >= CounterWrap ? 0 : static_cast<std::int32_t>(next);
        return ReplaceAll(text, NumberMark, std::to_string(next));
    }
    if (text == MessageEntries::WebAccess)
        return "Test user connected to website http://" + RandomClassCAddress() + "/index.html";
    if (text == MessageEntries::MultiLine)
        return m_state.MultiLineText;
    if (text == MessageEntries::RandomString)
        return RandomText();
    if (text == MessageEntries::TabDelimitedFile || text == MessageEntries::HexFile)
        return m_source.ReadSourceFileLine();
    if (text == MessageEntries::CaptureFile)
        return m_source.ReadCapturePacket();
    return text;
}

std::string MessageComposer::SourceText(SendingKind kind)
{
    const std::string &address = m_state.SourceAddress;
    if (address == SourceEntries::ThisMachine)
        return {};
    if (address == SourceEntries::RandomClassC)
        return std::string(OriginalAddress) + RandomClassCAddress() + " ";
    if (address == SourceEntries::RandomSubnet)
        return std::string(OriginalAddress) + RandomSubnetHost(m_state) + " ";
    if (kind == SendingKind::Single && !address.empty() && address.back() == '?') {
        const std::string candidate = address.substr(0, address.size() - 1) + std::to_string(RandomInteger(1, 253));
        return SourceTextFor(candidate);
    }
    return SourceTextFor(address);
}

std::string MessageComposer::Header() const
{
    if (!m_inputs.RfcHeaderChecked())
        return {};
    // Three clock readings in this order; a header written at midnight may mix two days.
    const int month = m_clock.Now().month;
    const int day = m_clock.Now().day;
    const LocalDateTime time = m_clock.Now();

    std::string header = MonthAbbreviation(month);
    header.push_back(' ');
    header += day < 10 ? " " + std::to_string(day) : std::to_string(day);
    header.push_back(' ');
    header += TwoDigits(time.hour) + ":" + TwoDigits(time.minute) + ":" + TwoDigits(time.second);
    header.push_back(' ');
    header += m_inputs.LocalHostName();
    header.push_back(' ');
    header += RfcTag.substr(0, MaxTagLength);
    header.push_back(' ');
    return header;
}

std::string RandomClassCAddress()
{
    const std::int32_t a = RandomInteger(193, 32);
    const std::int32_t b = RandomInteger(1, 253);
    const std::int32_t c = RandomInteger(1, 253);
    const std::int32_t d = RandomInteger(1, 253);
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

std::string RandomSubnetHost(const SendState &state)
{
    return state.SubnetPrefix + std::to_string(RandomInteger(1, 253));
}

std::string RandomText()
{
    const std::int32_t length = RandomInteger(1, 300);
    std::string text;
    text.reserve(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i)
        text.push_back(static_cast<char>(static_cast<unsigned char>(RandomInteger(0, 255))));
    return text;
}

bool IsDottedQuad(std::string_view text)
{
    if (text.find_first_not_of("0123456789.") != std::string_view::npos)
        return false;
    int parts = 0;
    std::size_t from = 0;
    while (true) {
        const std::size_t dot = text.find('.', from);
        const std::string_view part = text.substr(from, dot == std::string_view::npos ? dot : dot - from);
        if (++parts > 4 || part.empty())
            return false;
        // Leading zeros are allowed, so the group's length is not limited.
        int value = 0;
        for (char c : part) {
            value = value * 10 + (c - '0');
            if (value > 255)
                return false;
        }
        if (dot == std::string_view::npos)
            break;
        from = dot + 1;
    }
    return parts == 4;
}
