#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One UDP datagram as it appears in a capture; length and checksum are the
// true ones unless the test sets its own.
struct CapturedDatagram {
    std::uint16_t sourcePort = 49152;
    std::uint16_t destinationPort = 514;
    std::string payload;
    std::optional<std::uint16_t> udpLength;
    std::optional<std::uint16_t> checksum;
};

// Builds a real capture file: the global header, then for each datagram a
// record header, an Ethernet header, an IPv4 header (127.0.0.1 to itself)
// and the UDP header.
class PcapWriter {
public:
    PcapWriter();
    void Add(const CapturedDatagram &datagram);
    const std::string &Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    std::uint32_t m_records = 0;
};
