#include "engine/Framing.h"

#include "common/Numbers.h"

#include <bit>
#include <charconv>
#include <cstring>

std::string_view TrailerOf(Framing framing)
{
    switch (framing) {
    case Framing::Lf:
        return "\n";
    case Framing::CrLf:
        return "\r\n";
    case Framing::Nul:
        return std::string_view("\0", 1);
    case Framing::None:
    case Framing::OctetCount:
    case Framing::Auto:
        break;
    }
    return {};
}

void AppendFramed(std::string &out, Framing framing, std::string_view packet)
{
    if (framing == Framing::OctetCount) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, packet.size()).ptr;
        out.append(digits, end);
        out.push_back(' ');
    }
    out += packet;
    out += TrailerOf(framing);
}

void FrameInPlace(std::string &out, std::size_t start, Framing framing)
{
    if (framing == Framing::OctetCount) {
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, out.size() - start).ptr;
        *end++ = ' ';
        out.insert(start, digits, static_cast<std::size_t>(end - digits));
    }
    out += TrailerOf(framing);
}

char *OctetCounter::Recount(char *start, char *end)
{
    char *message = start + m_digits + 1;
    const auto length = static_cast<std::size_t>(end - message);
    m_length = length;
    // Most counts: the digits and the space made in a register and stored
    // from there, not read back from m_text just after writing it.
    const bool inWord = std::endian::native == std::endian::little && length < 10000000;
    std::uint64_t text = 0;
    std::size_t digits = 0;
    if (inWord) {
        const DecimalWord count = SmallDecimal(static_cast<std::uint32_t>(length));
        text = count.word | std::uint64_t{' '} << 8 * count.digits;
        std::memcpy(m_text, &text, 8);
        digits = count.digits;
    } else {
        digits = static_cast<std::size_t>(WriteDecimal(m_text, length) - m_text);
        m_text[digits] = ' ';
    }
    if (digits != m_digits) {
        std::memmove(start + digits + 1, message, length);
        m_digits = digits;
        end = start + digits + 1 + length;
    }
    const std::size_t size = m_digits + 1;
    if (!inWord) {
        std::memcpy(start, m_text, size);
    } else if (size >= 4) {
        // Its 2 to 8 bytes in two stores that may overlap.
        const auto first = static_cast<std::uint32_t>(text);
        const auto last = static_cast<std::uint32_t>(text >> 8 * (size - 4));
        std::memcpy(start, &first, 4);
        std::memcpy(start + size - 4, &last, 4);
    } else {
        const auto first = static_cast<std::uint16_t>(text);
        const auto last = static_cast<std::uint16_t>(text >> 8 * (size - 2));
        std::memcpy(start, &first, 2);
        std::memcpy(start + size - 2, &last, 2);
    }
    return end;
}

void OctetCounter::Count(std::string &out, std::size_t start)
{
    const std::size_t end = out.size();
    out.resize(end + MaxRoom);
    char *const counted = Count(out.data() + start, out.data() + end);
    std::memcpy(out.data() + start, m_text, m_digits + 1);
    out.resize(static_cast<std::size_t>(counted - out.data()));
}
