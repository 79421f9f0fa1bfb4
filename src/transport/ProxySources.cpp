#include "transport/ProxySources.h"

#include "common/Random.h"

#include <algorithm>
#include <charconv>

namespace {
bool ReadNumber(std::string_view text, unsigned &value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// "ADDR", "ADDR:PORT" or "[ADDR6]:PORT"; port 0 stands for a random one.
std::optional<ProxyAddress> ReadSource(std::string_view text)
{
    std::string_view address = text;
    std::string_view port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || (close + 1 < text.size() && text[close + 1] != ':'))
            return std::nullopt;
        address = text.substr(1, close - 1);
        port = close + 1 < text.size() ? text.substr(close + 2) : std::string_view();
        if (close + 1 < text.size() && port.empty())
            return std::nullopt;
    } else if (text.find(':') == text.rfind(':') && text.find(':') != std::string_view::npos) {
        address = text.substr(0, text.find(':'));
        port = text.substr(text.find(':') + 1);
        if (port.empty())
            return std::nullopt;
    }
    std::optional<ProxyAddress> source = ParseProxyAddress(address);
    unsigned value = 0;
    if (!source || (!port.empty() && (!ReadNumber(port, value) || value < 1 || value > 65535)))
        return std::nullopt;
    source->port = static_cast<std::uint16_t>(value);
    return source;
}

std::uint16_t RandomPort()
{
    return static_cast<std::uint16_t>(1024 + NextRandomBits() % (65536 - 1024));
}

// Unicast-looking random addresses: IPv4 not 0., 127. or 224. and above;
// IPv6 in 2000::/3.
ProxyAddress RandomAddress(bool v6)
{
    ProxyAddress address;
    address.v6 = v6;
    for (std::size_t i = 0; i < 16; i += 8) {
        const std::uint64_t bits = NextRandomBits();
        for (std::size_t j = 0; j < 8; ++j)
            address.bytes[i + j] = static_cast<std::uint8_t>(bits >> (8 * j));
    }
    if (v6) {
        address.bytes[0] = static_cast<std::uint8_t>(0x20 | (address.bytes[0] & 0x1f));
    } else {
        address.bytes[0] = static_cast<std::uint8_t>(1 + address.bytes[0] % 223);
        if (address.bytes[0] == 127)
            address.bytes[0] = 128;
        address.bytes[3] = static_cast<std::uint8_t>(1 + address.bytes[3] % 254);
        std::fill(address.bytes.begin() + 4, address.bytes.end(), 0);
    }
    return address;
}
} // namespace

Result<ProxySources> ProxySources::Parse(std::string_view text)
{
    ProxySources sources;
    if (text == "random" || text == "random6") {
        sources.m_kind = Kind::Random;
        sources.m_network.v6 = text == "random6";
        return sources;
    }
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        const std::optional<ProxyAddress> network = ParseProxyAddress(text.substr(0, slash));
        unsigned prefix = 0;
        const unsigned bits = network && network->v6 ? 128 : 32;
        if (!network || !ReadNumber(text.substr(slash + 1), prefix) || prefix > bits) {
            return Status::Failure("'" + std::string(text) +
                                   "' is not a network in CIDR form (10.0.0.0/8, 2001:db8::/48)");
        }
        sources.m_kind = Kind::Range;
        sources.m_network = *network;
        sources.m_prefix = static_cast<int>(prefix);
        return sources;
    }
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = text.find(',', from);
        const std::string_view item = text.substr(from, comma == std::string_view::npos ? comma : comma - from);
        const std::optional<ProxyAddress> source = ReadSource(item);
        if (!source) {
            return Status::Failure(
                "'" + std::string(item) +
                "' is not an address, ADDRESS:PORT or [IPv6]:PORT (or a CIDR network, random, random6)");
        }
        sources.m_list.push_back(*source);
        if (comma == std::string_view::npos)
            break;
        from = comma + 1;
    }
    return sources;
}

ProxyAddress ProxySources::Next()
{
    ProxyAddress address;
    if (m_kind == Kind::List) {
        address = m_list[m_next];
        m_next = m_next + 1 == m_list.size() ? 0 : m_next + 1;
    } else {
        address = RandomAddress(m_network.v6);
        if (m_kind == Kind::Range) {
            // The network's bits, the host's from the random address.
            const std::size_t size = m_network.v6 ? 16 : 4;
            for (std::size_t i = 0; i < size; ++i) {
                const int kept = std::clamp(m_prefix - static_cast<int>(8 * i), 0, 8);
                const auto mask = static_cast<std::uint8_t>(0xff00 >> kept);
                address.bytes[i] = static_cast<std::uint8_t>((m_network.bytes[i] & mask) | (address.bytes[i] & ~mask));
            }
        }
    }
    if (address.port == 0)
        address.port = RandomPort();
    return address;
}

void ProxySources::Skip(std::size_t count)
{
    if (m_kind == Kind::List)
        m_next = (m_next + count) % m_list.size();
}
