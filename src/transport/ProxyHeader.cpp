#include "transport/ProxyHeader.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {
constexpr std::string_view V1Prefix = "PROXY ";
constexpr std::uint8_t V2Proxy = 0x21;
constexpr std::uint8_t V2Local = 0x20;
constexpr std::uint8_t V2Tcp4 = 0x11;
constexpr std::uint8_t V2Tcp6 = 0x21;
constexpr std::size_t V2Fixed = 16;

// Both as IPv6, the IPv4 one mapped, when their families differ.
ProxyAddress AsV6(const ProxyAddress &address)
{
    if (address.v6)
        return address;
    ProxyAddress mapped;
    mapped.v6 = true;
    mapped.port = address.port;
    mapped.bytes[10] = 0xff;
    mapped.bytes[11] = 0xff;
    std::memcpy(mapped.bytes.data() + 12, address.bytes.data(), 4);
    return mapped;
}

void SameFamily(ProxyAddress &source, ProxyAddress &destination)
{
    if (source.v6 != destination.v6) {
        source = AsV6(source);
        destination = AsV6(destination);
    }
}

void AppendPort(std::string &out, std::uint16_t port)
{
    char digits[8];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, port).ptr);
}

// Decimal 0..65535 without a sign or leading zeros.
bool ReadPort(std::string_view text, std::uint16_t &port)
{
    unsigned value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.size() > 5 || (text[0] == '0' && text.size() > 1) || result.ec != std::errc() ||
        result.ptr != text.data() + text.size() || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

ProxyParse ParseV1(std::string_view bytes, ProxyHeader &header)
{
    const std::size_t end = bytes.substr(0, ProxyV1Longest).find("\r\n");
    if (end == std::string_view::npos)
        return bytes.size() >= ProxyV1Longest ? ProxyParse::Malformed : ProxyParse::NeedMore;
    std::string_view line = bytes.substr(V1Prefix.size(), end - V1Prefix.size());
    ProxyHeader read;
    read.version = 1;
    read.length = end + 2;
    if (line.starts_with("UNKNOWN")) {
        read.local = true;
        header = read;
        return ProxyParse::Header;
    }
    std::string_view parts[5];
    for (int i = 0; i < 5; ++i) {
        const std::size_t space = line.find(' ');
        if ((space == std::string_view::npos) != (i == 4))
            return ProxyParse::Malformed;
        parts[i] = line.substr(0, space);
        line = i == 4 ? std::string_view() : line.substr(space + 1);
    }
    const bool v6 = parts[0] == "TCP6";
    if (!v6 && parts[0] != "TCP4")
        return ProxyParse::Malformed;
    const std::optional<ProxyAddress> source = ParseProxyAddress(parts[1]);
    const std::optional<ProxyAddress> destination = ParseProxyAddress(parts[2]);
    if (!source || !destination || source->v6 != v6 || destination->v6 != v6)
        return ProxyParse::Malformed;
    read.source = *source;
    read.destination = *destination;
    if (!ReadPort(parts[3], read.source.port) || !ReadPort(parts[4], read.destination.port))
        return ProxyParse::Malformed;
    header = read;
    return ProxyParse::Header;
}

std::uint16_t Read16(const char *at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(at[0]) << 8 | static_cast<std::uint8_t>(at[1]));
}

ProxyParse ParseV2(std::string_view bytes, ProxyHeader &header)
{
    if (bytes.size() < V2Fixed)
        return ProxyParse::NeedMore;
    const auto command = static_cast<std::uint8_t>(bytes[12]);
    const auto family = static_cast<std::uint8_t>(bytes[13]);
    const std::size_t length = V2Fixed + Read16(bytes.data() + 14);
    if (command != V2Proxy && command != V2Local)
        return ProxyParse::Malformed;
    const std::size_t addresses = family == V2Tcp4 ? 12 : family == V2Tcp6 ? 36 : 0;
    if (command == V2Proxy && length - V2Fixed < addresses)
        return ProxyParse::Malformed;
    if (bytes.size() < length)
        return ProxyParse::NeedMore;
    ProxyHeader read;
    read.version = 2;
    read.length = length;
    read.local = command == V2Local || addresses == 0;
    if (!read.local) {
        const std::size_t size = addresses == 12 ? 4 : 16;
        const char *at = bytes.data() + V2Fixed;
        read.source.v6 = read.destination.v6 = size == 16;
        std::memcpy(read.source.bytes.data(), at, size);
        std::memcpy(read.destination.bytes.data(), at + size, size);
        read.source.port = Read16(at + 2 * size);
        read.destination.port = Read16(at + 2 * size + 2);
    }
    header = read;
    return ProxyParse::Header;
}
} // namespace

std::optional<ProxyAddress> ParseProxyAddress(std::string_view text)
{
    char plain[INET6_ADDRSTRLEN + 1];
    if (text.empty() || text.size() >= sizeof plain)
        return std::nullopt;
    std::memcpy(plain, text.data(), text.size());
    plain[text.size()] = '\0';
    ProxyAddress address;
    if (inet_pton(AF_INET, plain, address.bytes.data()) == 1)
        return address;
    address.v6 = true;
    if (inet_pton(AF_INET6, plain, address.bytes.data()) == 1)
        return address;
    return std::nullopt;
}

std::string ProxyAddressText(const ProxyAddress &address)
{
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(address.v6 ? AF_INET6 : AF_INET, address.bytes.data(), text, sizeof text))
        return {};
    return text;
}

void AppendProxyV1(std::string &out, const ProxyAddress &source, const ProxyAddress &destination)
{
    ProxyAddress from = source;
    ProxyAddress to = destination;
    SameFamily(from, to);
    out += V1Prefix;
    out += from.v6 ? "TCP6 " : "TCP4 ";
    out += ProxyAddressText(from);
    out.push_back(' ');
    out += ProxyAddressText(to);
    out.push_back(' ');
    AppendPort(out, from.port);
    out.push_back(' ');
    AppendPort(out, to.port);
    out += "\r\n";
}

void AppendProxyV2(std::string &out, const ProxyAddress &source, const ProxyAddress &destination)
{
    ProxyAddress from = source;
    ProxyAddress to = destination;
    SameFamily(from, to);
    const std::size_t size = from.v6 ? 16 : 4;
    const std::size_t length = 2 * size + 4;
    out += ProxyV2Signature;
    out.push_back(static_cast<char>(V2Proxy));
    out.push_back(static_cast<char>(from.v6 ? V2Tcp6 : V2Tcp4));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(length & 0xff));
    out.append(reinterpret_cast<const char *>(from.bytes.data()), size);
    out.append(reinterpret_cast<const char *>(to.bytes.data()), size);
    for (std::uint16_t port : {from.port, to.port}) {
        out.push_back(static_cast<char>(port >> 8));
        out.push_back(static_cast<char>(port & 0xff));
    }
}

ProxyParse ParseProxyHeader(std::string_view bytes, ProxyHeader &header)
{
    // A stream that has not yet told the two apart, or either from others.
    const std::size_t v1 = std::min(bytes.size(), V1Prefix.size());
    const std::size_t v2 = std::min(bytes.size(), ProxyV2Signature.size());
    if (bytes.substr(0, v1) == V1Prefix.substr(0, v1))
        return bytes.size() < V1Prefix.size() ? ProxyParse::NeedMore : ParseV1(bytes, header);
    if (bytes.substr(0, v2) == ProxyV2Signature.substr(0, v2))
        return bytes.size() < ProxyV2Signature.size() ? ProxyParse::NeedMore : ParseV2(bytes, header);
    return ProxyParse::NotProxy;
}
