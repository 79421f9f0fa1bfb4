#include "support/PcapWriter.h"

namespace {
const std::string LoopbackPair("\x7F\x00\x00\x01\x7F\x00\x00\x01", 8);

void PutLittle(std::string &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutBig16(std::string &out, std::uint32_t value)
{
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
    out.push_back(static_cast<char>(value & 0xFF));
}

// The Internet checksum: ones' complement of the ones' complement sum of 16-bit words.
std::uint16_t Checksum(const std::string &bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t low = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : 0;
        sum += static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i]) << 8) | low;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}
} // namespace

PcapWriter::PcapWriter()
{
    PutLittle(m_bytes, 0xA1B2C3D4, 4); // microsecond timestamps
    PutLittle(m_bytes, 2, 2);
    PutLittle(m_bytes, 4, 2);
    PutLittle(m_bytes, 0, 4); // time zone
    PutLittle(m_bytes, 0, 4); // timestamp accuracy
    PutLittle(m_bytes, 65535, 4);
    PutLittle(m_bytes, 1, 4); // Ethernet
}

void PcapWriter::Add(const CapturedDatagram &d)
{
    const auto length = static_cast<std::uint32_t>(8 + d.payload.size());
    auto udpHeader = [&](std::uint32_t lengthField, std::uint32_t checksum) {
        std::string out;
        for (std::uint32_t field :
             {std::uint32_t{d.sourcePort}, std::uint32_t{d.destinationPort}, lengthField, checksum})
            PutBig16(out, field);
        return out + d.payload;
    };
    std::string pseudo = LoopbackPair + std::string("\x00\x11", 2);
    PutBig16(pseudo, length);
    const std::uint16_t sum = Checksum(pseudo + udpHeader(length, 0));
    // A zero checksum on the wire means none was computed.
    const std::string udp = udpHeader(d.udpLength.value_or(length), d.checksum.value_or(sum == 0 ? 0xFFFF : sum));

    std::string ip("\x45\x00", 2);
    PutBig16(ip, 20 + length);
    PutBig16(ip, 0x1000 + m_records);
    ip += std::string("\x40\x00\x40\x11\x00\x00", 6) + LoopbackPair;
    const std::uint16_t ipChecksum = Checksum(ip);
    ip[10] = static_cast<char>(ipChecksum >> 8);
    ip[11] = static_cast<char>(ipChecksum & 0xFF);

    const std::string frame = std::string("\x00\x11\x22\x33\x44\x55\x00\x66\x77\x88\x99\xAA\x08\x00", 14) + ip + udp;
    PutLittle(m_bytes, 1262304000 + m_records, 4);
    PutLittle(m_bytes, 1000 * m_records, 4);
    PutLittle(m_bytes, static_cast<std::uint32_t>(frame.size()), 4);
    PutLittle(m_bytes, static_cast<std::uint32_t>(frame.size()), 4);
    m_bytes += frame;
    ++m_records;
}
