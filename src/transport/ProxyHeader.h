#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An address and port as a PROXY protocol header carries them.
struct ProxyAddress {
    bool v6 = false;
    // An IPv4 address in the first four bytes, in network order.
    std::array<std::uint8_t, 16> bytes{};
    std::uint16_t port = 0;

    bool operator==(const ProxyAddress &) const = default;
};

// "192.0.2.7" or "2001:db8::7" (no port); nothing for another text.
std::optional<ProxyAddress> ParseProxyAddress(std::string_view text);
// The address as ParseProxyAddress reads it.
std::string ProxyAddressText(const ProxyAddress &address);

// The header a proxy sends before a TCP connection's own bytes, so the
// server learns the client it stands for: version 1 as text
// ("PROXY TCP4 192.0.2.7 198.51.100.1 40000 514\r\n"), version 2 as binary
// (signature, PROXY command, TCP over IPv4 or IPv6, addresses, ports).
// When one address is IPv6 and the other IPv4, the IPv4 one is written as
// IPv4-mapped IPv6.
void AppendProxyV1(std::string &out, const ProxyAddress &source, const ProxyAddress &destination);
void AppendProxyV2(std::string &out, const ProxyAddress &source, const ProxyAddress &destination);

struct ProxyHeader {
    int version = 0;
    // LOCAL (version 2), UNKNOWN (version 1) or a family other than TCP over
    // IPv4 or IPv6: no claimed addresses, the connection's own stand.
    bool local = false;
    ProxyAddress source;
    ProxyAddress destination;
    // The bytes the header took at the stream's start.
    std::size_t length = 0;
};

enum class ProxyParse {
    NeedMore,  // the bytes so far start like a header: wait for more
    Header,    // header filled in
    NotProxy,  // the stream does not start with a header
    Malformed, // it starts like one but is not one
};

// Reads a version 1 or 2 header at the start of what a connection has sent
// so far. A header is at most 107 bytes (version 1) or 16 plus its length
// field (version 2, up to 65,551 bytes), so a caller keeps at most that
// much while the answer is NeedMore. TLVs of version 2 are skipped.
ProxyParse ParseProxyHeader(std::string_view bytes, ProxyHeader &header);

inline constexpr std::size_t ProxyV1Longest = 107;
inline constexpr std::string_view ProxyV2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};
