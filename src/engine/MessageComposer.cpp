#include "engine/MessageComposer.h"

#include "common/Clock.h"
#include "common/Random.h"
#include "common/TextHelpers.h"
#include "engine/StructuredData.h"
#include "sources/SourceFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {
using MessageEntries::NumberMark;
constexpr std::string_view OriginalAddress = SourceEntries::AddressLead;
constexpr std::size_t MaxTagLength = 32;

void AppendNumber(std::string &out, std::int64_t value)
{
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendReplacingAll(std::string &out, std::string_view text, std::string_view mark, std::string_view with)
{
    std::size_t from = 0;
    for (std::size_t at = text.find(mark); at != std::string_view::npos; at = text.find(mark, from)) {
        out += text.substr(from, at - from);
        out += with;
        from = at + mark.size();
    }
    out += text.substr(from);
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

void AppendClassCAddress(std::string &out)
{
    const std::int32_t a = RandomInteger(193, 32);
    const std::int32_t b = RandomInteger(1, 253);
    const std::int32_t c = RandomInteger(1, 253);
    const std::int32_t d = RandomInteger(1, 253);
    AppendNumber(out, a);
    out.push_back('.');
    AppendNumber(out, b);
    out.push_back('.');
    AppendNumber(out, c);
    out.push_back('.');
    AppendNumber(out, d);
}

void AppendSubnetHost(std::string &out, const SendState &state)
{
    out += state.SubnetPrefix;
    AppendNumber(out, RandomInteger(1, 253));
}

void AppendRandomText(std::string &out)
{
    const std::int32_t length = RandomInteger(1, 300);
    out.reserve(out.size() + static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i)
        out.push_back(static_cast<char>(static_cast<unsigned char>(RandomInteger(0, 255))));
}

void AppendTwoDigits(std::string &out, int value)
{
    char buffer[4];
    const int length = std::snprintf(buffer, sizeof buffer, "%02d", value % 100);
    out.append(buffer, static_cast<std::size_t>(std::clamp(length, 0, 3)));
}
} // namespace

MessageComposer::MessageComposer(SendState &state, const ComposeInputs &inputs, const Clock &clock, SourceFile &source)
    : m_state(state), m_inputs(inputs), m_clock(clock), m_source(source), m_timestamp(clock)
{}

ComposedView ComposedMessage::View() const
{
    return ComposedView{MessageBody, OriginalAddressText, RfcHeaderText, SourceAddress, Format, Utf8Bom};
}

ComposedMessage MessageComposer::ComposeMessage(SendingKind kind)
{
    const ComposedView view = ComposeView(kind);
    ComposedMessage message;
    message.MessageBody = view.MessageBody;
    message.OriginalAddressText = view.OriginalAddressText;
    message.RfcHeaderText = view.RfcHeaderText;
    message.SourceAddress = view.SourceAddress;
    message.Format = view.Format;
    message.Utf8Bom = view.Utf8Bom;
    return message;
}

ComposedView MessageComposer::ComposeView(SendingKind kind)
{
    ComposedView view;
    view.MessageBody = Body();
    view.OriginalAddressText = SourceText(kind);
    view.SourceAddress = m_sourceAddress;
    view.Format = m_format;
    if (m_format == MessageFormat::Rfc5424) {
        view.OriginalAddressText = {};
        view.RfcHeaderText = Rfc5424Header();
        view.Utf8Bom = m_utf8Bom;
    } else {
        view.RfcHeaderText = Header();
    }
    return view;
}

void MessageComposer::UseFormat(const MessageFormatSettings &settings)
{
    m_format = settings.format;
    m_utf8Bom = settings.utf8Bom;
    m_rfc3164Tag = settings.rfc3164Tag;
    m_rfc5424Host = settings.hostName.empty() ? m_inputs.LocalHostName() : settings.hostName;
    if (m_rfc5424Host.empty())
        m_rfc5424Host = NilValue;
    m_rfc5424Tail.clear();
    for (const std::string &field :
         {settings.appName, settings.procId.empty() ? DefaultProcId() : settings.procId, settings.msgId}) {
        m_rfc5424Tail.push_back(' ');
        m_rfc5424Tail += field;
    }
    m_rfc5424Tail.push_back(' ');
    AppendStructuredData(m_rfc5424Tail, settings.sdElements);
    m_rfc5424HeaderKept = false;
}

std::string_view MessageComposer::Body()
{
    const std::string &text = m_state.MessageText;
    if (ContainsNumberedPhrase(text)) {
        // 64 bits, so a counter stored out of range wraps instead of overflowing.
        const std::int64_t next = static_cast<std::int64_t>(m_state.SequenceNumber) + 1;
        m_state.SequenceNumber = next >= CounterWrap ? 0 : static_cast<std::int32_t>(next);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, next).ptr;
        m_body.clear();
        AppendReplacingAll(m_body, text, NumberMark, std::string_view(digits, static_cast<std::size_t>(end - digits)));
        return m_body;
    }
    if (text == MessageEntries::WebAccess) {
        m_body.assign("Test user connected to website http://");
        AppendClassCAddress(m_body);
        m_body += "/index.html";
        return m_body;
    }
    if (text == MessageEntries::MultiLine)
        return m_state.MultiLineText;
    if (text == MessageEntries::RandomString) {
        m_body.clear();
        AppendRandomText(m_body);
        return m_body;
    }
    if (text == MessageEntries::TabDelimitedFile || text == MessageEntries::HexFile)
        return m_body = m_source.ReadSourceFileLine();
    if (text == MessageEntries::CaptureFile)
        return m_body = m_source.ReadCapturePacket();
    return text;
}

std::string_view MessageComposer::SourceText(SendingKind kind)
{
    const std::string_view text = SourceTextOf(kind);
    // The text just built holds the address between its fixed lead and its
    // trailing space.
    m_sourceAddress =
        text.empty() ? text : text.substr(OriginalAddress.size(), text.size() - OriginalAddress.size() - 1);
    return text;
}

std::string_view MessageComposer::SourceTextOf(SendingKind kind)
{
    const std::string &address = m_state.SourceAddress;
    if (address == SourceEntries::ThisMachine)
        return {};
    if (address == SourceEntries::RandomClassC || address == SourceEntries::RandomSubnet) {
        m_sourceText.assign(OriginalAddress);
        if (address == SourceEntries::RandomClassC)
            AppendClassCAddress(m_sourceText);
        else
            AppendSubnetHost(m_sourceText, m_state);
        m_sourceText.push_back(' ');
        return m_sourceText;
    }
    m_sourceText.assign(OriginalAddress);
    if (kind == SendingKind::Single && !address.empty() && address.back() == '?') {
        m_sourceText.append(address, 0, address.size() - 1);
        AppendNumber(m_sourceText, RandomInteger(1, 253));
    } else {
        m_sourceText += address;
    }
    if (!IsDottedQuad(std::string_view(m_sourceText).substr(OriginalAddress.size())))
        return {};
    m_sourceText.push_back(' ');
    return m_sourceText;
}

std::string_view MessageComposer::Header()
{
    if (!m_inputs.RfcHeaderChecked())
        return {};
    // Three clock readings in this order; a header written at midnight may mix two days.
    const int month = m_clock.Now().month;
    const int day = m_clock.Now().day;
    const LocalDateTime time = m_clock.Now();

    m_header.assign(MonthAbbreviation(month));
    m_header.push_back(' ');
    if (day < 10)
        m_header.push_back(' ');
    AppendNumber(m_header, day);
    m_header.push_back(' ');
    AppendTwoDigits(m_header, time.hour);
    m_header.push_back(':');
    AppendTwoDigits(m_header, time.minute);
    m_header.push_back(':');
    AppendTwoDigits(m_header, time.second);
    m_header.push_back(' ');
    if (!m_rfc3164Tag.empty()) {
        if (!m_inputs.LocalHeader()) {
            m_header += m_inputs.LocalHostName();
            m_header.push_back(' ');
        }
        m_header += m_rfc3164Tag;
        m_header.push_back(' ');
        return m_header;
    }
    if (m_inputs.LocalHeader()) {
        m_header += RfcTag.substr(0, MaxTagLength);
        m_header += ": ";
        return m_header;
    }
    m_header += m_inputs.LocalHostName();
    m_header.push_back(' ');
    m_header += RfcTag.substr(0, MaxTagLength);
    m_header.push_back(' ');
    return m_header;
}

std::string_view MessageComposer::Rfc5424Header()
{
    const std::int64_t now = m_clock.EpochMicroseconds();
    constexpr std::size_t TimestampAt = 2; // after "1 "
    if (m_rfc5424HeaderKept && m_sourceAddress.empty() &&
        m_timestamp.RewriteFraction(m_rfc5424Header.data() + TimestampAt + Rfc3339Timestamp::FractionOffset, now))
        return m_rfc5424Header;
    m_rfc5424Header.assign("1 ");
    m_timestamp.AppendAt(m_rfc5424Header, now);
    m_rfc5424Header.push_back(' ');
    m_rfc5424Header += m_sourceAddress.empty() ? std::string_view(m_rfc5424Host) : m_sourceAddress;
    m_rfc5424Header += m_rfc5424Tail;
    m_rfc5424HeaderKept = m_sourceAddress.empty();
    return m_rfc5424Header;
}

std::string RandomClassCAddress()
{
    std::string address;
    AppendClassCAddress(address);
    return address;
}

std::string RandomSubnetHost(const SendState &state)
{
    std::string host;
    AppendSubnetHost(host, state);
    return host;
}

std::string RandomText()
{
    std::string text;
    AppendRandomText(text);
    return text;
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
