// Packet building, with HEX= bodies decoded to raw bytes, and the framing
// of packets in a TCP stream.
//
// Input: one byte of options (bit 0 no priority, 1 corrupt, 2 oversize,
// 3 CR LF, 4 RFC 5424, 5 byte order mark), one byte of framing (modulo the
// five framings), four bytes of priority (big-endian, signed), then the
// original address text, NUL, the header text, NUL, and the message body.

#include "FuzzSupport.h"

#include "engine/Framing.h"
#include "engine/PacketBuilder.h"

#include <cstdint>
#include <string>

namespace {
constexpr char HexDigits[] = "0123456789abcdef";

std::string Hex(std::string_view bytes, bool spaced)
{
    std::string text;
    for (const char c : bytes) {
        if (spaced && !text.empty())
            text.push_back(' ');
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(HexDigits[byte >> 4]);
        text.push_back(HexDigits[byte & 15]);
    }
    return text;
}

std::string_view NextPart(std::string_view &rest)
{
    const std::size_t nul = rest.find('\0');
    const std::string_view part = rest.substr(0, nul);
    rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
    return part;
}

bool HasHexPrefix(std::string_view body)
{
    if (body.size() < 4 || body[3] != '=')
        return false;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return upper(body[0]) == 'H' && upper(body[1]) == 'E' && upper(body[2]) == 'X';
}

void CheckDecoding(std::string_view digits)
{
    // Every byte string survives both ways of writing it as hex.
    FuzzCheck(DecodeHexBytes(Hex(digits, false)) == digits, "run-together hex decodes to its bytes");
    FuzzCheck(DecodeHexBytes(Hex(digits, true)) == digits, "spaced hex decodes to its bytes");
    // One byte per pair (or per pair and its space), whatever the pairs hold.
    const std::size_t step = digits.size() >= 3 && digits[2] == ' ' ? 3 : 2;
    FuzzCheck(DecodeHexBytes(digits).size() == (digits.size() + step - 1) / step, "one byte per pair of digits");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 6)
        return -1;
    const std::uint8_t options = data[0];
    const bool noPriority = options & 1;
    const bool corrupt = options & 2;
    const bool oversize = options & 4;
    const bool crlf = options & 8;
    const bool rfc5424 = options & 16;
    const bool bom = options & 32;
    const Framing framing = SentFramings[data[1] % SentFramings.size()];
    const auto priority = static_cast<std::int32_t>(std::uint32_t{data[2]} << 24 | std::uint32_t{data[3]} << 16 |
                                                    std::uint32_t{data[4]} << 8 | std::uint32_t{data[5]});
    std::string_view rest = FuzzBytes(data + 6, size - 6);
    const std::string_view address = NextPart(rest);
    const std::string_view header = NextPart(rest);
    const std::string_view body = rest;

    CheckDecoding(body);

    std::string expected;
    if (HasHexPrefix(body)) {
        expected = DecodeHexBytes(body.substr(4));
    } else {
        if (!noPriority)
            expected = "<" + std::to_string(priority) + ">";
        if (!rfc5424)
            expected.append(header).append(address).append(body);
        else if (body.empty())
            expected.append(header);
        else
            expected.append(header).append(" ").append(bom ? "\xEF\xBB\xBF" : "").append(body);
    }
    const std::size_t corruptible = expected.size();
    if (oversize)
        expected.append(OversizePadding, ' ');
    if (crlf)
        expected += "\r\n";

    // Appending leaves what the buffer held and adds the packet.
    const auto append = [&](std::string &out, bool corrupting) {
        if (rfc5424)
            AppendRfc5424Packet(out, priority, header, body, bom, noPriority, corrupting, oversize, crlf);
        else
            AppendSyslogPacket(out, priority, address, header, body, noPriority, corrupting, oversize, crlf);
    };
    std::string built;
    append(built, corrupt);
    std::string appended(address);
    append(appended, false);
    FuzzCheck(appended.substr(0, address.size()) == address, "appending keeps the bytes already in the buffer");
    FuzzCheck(appended.substr(address.size()) == expected, "the appended packet is the expected one");
    if (!rfc5424)
        FuzzCheck(BuildSyslogPacket(priority, address, header, body, noPriority, false, oversize, crlf) == expected,
                  "a built packet is the appended one");

    // Framed in a batch or in place, the packet gets its count or trailer.
    std::string framedExpected = expected;
    if (framing == Framing::OctetCount)
        framedExpected = std::to_string(expected.size()) + " " + expected;
    else if (framing != Framing::None)
        framedExpected += framing == Framing::Lf ? "\n" : framing == Framing::CrLf ? "\r\n" : std::string(1, '\0');
    std::string batch(address);
    AppendFramed(batch, framing, expected);
    FuzzCheck(batch == std::string(address) + framedExpected, "a packet framed in a batch follows what was there");
    FrameInPlace(appended, address.size(), framing);
    FuzzCheck(appended == batch, "framing in place gives what framing in a batch gives");

    FuzzCheck(built.size() == expected.size(), "corruption keeps the packet's length");
    std::size_t changed = 0;
    for (std::size_t i = 0; i < built.size(); ++i) {
        if (built[i] == expected[i])
            continue;
        ++changed;
        FuzzCheck(corrupt, "without corruption the packet is the expected one");
        // Never the last character (unless it is the only one), the padding or the CR LF.
        FuzzCheck(i < corruptible && (i + 1 < corruptible || corruptible == 1), "corruption stays in the message");
        FuzzCheck(built[i] != '\0' && built[i] != '\xff', "corruption writes a code from 1 to 254");
    }
    FuzzCheck(changed <= 1, "corruption replaces at most one character");
    return 0;
}
