#include "engine/Framing.h"

#include <charconv>

namespace {
std::string_view Trailer(Framing framing)
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
} // namespace

void AppendFramed(std::string &out, Framing framing, std::string_view packet)
{
    if (framing == Framing::OctetCount) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, packet.size()).ptr;
        out.append(digits, end);
        out.push_back(' ');
    }
    out += packet;
    out += Trailer(framing);
}

void FrameInPlace(std::string &out, std::size_t start, Framing framing)
{
    if (framing == Framing::OctetCount) {
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, out.size() - start).ptr;
        *end++ = ' ';
        out.insert(start, digits, static_cast<std::size_t>(end - digits));
    }
    out += Trailer(framing);
}
