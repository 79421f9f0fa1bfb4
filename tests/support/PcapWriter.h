#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One UDP datagram as it appears in a capture. Length and checksum are the
// true ones unless the test sets its own.
struct CapturedDatagram {
    std::uint16_t sourcePort = 49152;
    std::uint16_t destinationPort = 514;
    std::string payload;
    std::optional<std::uint16_t> udpLength;
    std::optional<std::uint16_t> checksum;
};

// Builds a real capture file: the global header, then per datagram a record
// header, an Ethernet frame, an IPv4 header (127.0.0.1 to 127.0.0.1) and the
// UDP header.
class PcapWriter {
public:
    PcapWriter();
    void Add(const CapturedDatagram &datagram);
    // A record holding arbitrary frame bytes.
    void AddFrame(std::string_view frame);
    const std::string &Bytes() const { return m_bytes; }
    bool WriteTo(const QString &path) const;

    // The UDP checksum over the IPv4 pseudo-header, as a sender would set it.
    static std::uint16_t UdpChecksum(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint16_t length,
                                     std::string_view payload);

private:
    std::string m_bytes;
    std::uint32_t m_records = 0;
};
