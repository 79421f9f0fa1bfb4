#include "engine/PacketBuilder.h"

#include "common/Random.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"

#include <charconv>
#include <cmath>

namespace {
constexpr std::string_view HexPrefix = "HEX=";
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a pair the way the lenient number reading reads "&H" and the pair:
// blanks are skipped, the first non-digit ends it, no digit at all is 0.
char ReadHexPair(std::string_view pair)
{
    int value = 0;
    for (char c : pair) {
        if (c == ' ' || c == '\t' || c == '\n')
            continue;
        const int digit = HexDigitValue(c);
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return static_cast<char>(value);
}

// The packet is what follows start in out.
void Corrupt(std::string &out, std::size_t start)
{
    // An empty packet has no character to replace; drawing nothing keeps the
    // random sequence of the following packets as it would be.
    if (out.size() == start)
        return;
    const double r1 = NextRandom();
    const double r2 = NextRandom();
    const double span = static_cast<double>(out.size() - start - 1);
    const auto position = start + static_cast<std::size_t>(std::floor(r1 * span));
    const int code = static_cast<int>(std::floor(r2 * 254)) + 1;
    out[position] = static_cast<char>(static_cast<unsigned char>(code));
}

// One append, and the digits of 0 to 999 written directly: this runs for
// every message.
void AppendPriority(std::string &out, std::int32_t priority)
{
    char text[16] = {'<'};
    char *end = text + 1;
    if (priority >= 0 && priority < 1000) {
        if (priority >= 100)
            *end++ = static_cast<char>('0' + priority / 100);
        if (priority >= 10)
            *end++ = static_cast<char>('0' + priority / 10 % 10);
        *end++ = static_cast<char>('0' + priority % 10);
    } else {
        end = std::to_chars(end, text + sizeof text - 1, priority).ptr;
    }
    *end++ = '>';
    out.append(text, static_cast<std::size_t>(end - text));
}

// Corruption covers the joined packet, never the padding or CR LF.
void FinishPacket(std::string &out, std::size_t start, bool corrupt, bool sendHugePackets, bool addCrLf)
{
    if (corrupt)
        Corrupt(out, start);
    if (sendHugePackets)
        out.append(OversizePadding, ' ');
    if (addCrLf)
        out += "\r\n";
}

void AppendHexBytes(std::string &out, std::string_view digits)
{
    const std::size_t step = digits.size() >= 3 && digits[2] == ' ' ? 3 : 2;
    out.reserve(out.size() + digits.size() / step + 1);
    for (std::size_t i = 0; i < digits.size(); i += step)
        out.push_back(ReadHexPair(digits.substr(i, 2)));
}
} // namespace

std::string DecodeHexBytes(std::string_view digits)
{
    std::string bytes;
    AppendHexBytes(bytes, digits);
    return bytes;
}

std::string BuildSyslogPacket(std::int32_t priority, std::string_view originalAddressText,
                              std::string_view rfcHeaderText, std::string_view messageBody, bool noPriority,
                              bool corrupt, bool sendHugePackets, bool addCrLf)
{
    std::string packet;
    AppendSyslogPacket(packet, priority, originalAddressText, rfcHeaderText, messageBody, noPriority, corrupt,
                       sendHugePackets, addCrLf);
    return packet;
}

void AppendSyslogPacket(std::string &out, std::int32_t priority, std::string_view originalAddressText,
                        std::string_view rfcHeaderText, std::string_view messageBody, bool noPriority, bool corrupt,
                        bool sendHugePackets, bool addCrLf)
{
    const std::size_t start = out.size();
    if (StartsWithNoCase(messageBody, HexPrefix)) {
        AppendHexBytes(out, messageBody.substr(HexPrefix.size()));
    } else {
        out.reserve(start + 8 + rfcHeaderText.size() + originalAddressText.size() + messageBody.size() +
                    (sendHugePackets ? OversizePadding : 0) + 2);
        if (!noPriority)
            AppendPriority(out, priority);
        out += rfcHeaderText;
        out += originalAddressText;
        out += messageBody;
    }
    FinishPacket(out, start, corrupt, sendHugePackets, addCrLf);
}

void AppendRfc5424Packet(std::string &out, std::int32_t priority, std::string_view header, std::string_view messageBody,
                         bool utf8Bom, bool noPriority, bool corrupt, bool sendHugePackets, bool addCrLf)
{
    const std::size_t start = out.size();
    if (StartsWithNoCase(messageBody, HexPrefix)) {
        AppendHexBytes(out, messageBody.substr(HexPrefix.size()));
    } else {
        out.reserve(start + 12 + header.size() + messageBody.size() + (sendHugePackets ? OversizePadding : 0) + 2);
        if (!noPriority)
            AppendPriority(out, priority);
        out += header;
        if (!messageBody.empty()) {
            out.push_back(' ');
            if (utf8Bom)
                out += Utf8Bom;
            out += messageBody;
        }
    }
    FinishPacket(out, start, corrupt, sendHugePackets, addCrLf);
}

void AppendComposedPacket(std::string &out, std::int32_t priority, const ComposedView &message, bool noPriority,
                          bool corrupt, bool sendHugePackets, bool addCrLf)
{
    if (message.Format == MessageFormat::Rfc5424)
        AppendRfc5424Packet(out, priority, message.RfcHeaderText, message.MessageBody, message.Utf8Bom, noPriority,
                            corrupt, sendHugePackets, addCrLf);
    else
        AppendSyslogPacket(out, priority, message.OriginalAddressText, message.RfcHeaderText, message.MessageBody,
                           noPriority, corrupt, sendHugePackets, addCrLf);
}

void CountMessageSent(SendState &state)
{
    // Counted in 64 bits so a counter that was stored out of range wraps
    // instead of overflowing.
    const std::int64_t next = static_cast<std::int64_t>(state.MessagesSent) + 1;
    state.MessagesSent = next >= CounterWrap ? 0 : static_cast<std::int32_t>(next);
}
