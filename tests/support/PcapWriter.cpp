#include "support/PcapWriter.h"

#include <QFile>

namespace {
constexpr std::uint8_t Loopback[4] = {127, 0, 0, 1};

void PutLittle32(std::string &out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutLittle16(std::string &out, std::uint16_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void PutBig16(std::string &out, std::uint16_t value)
{
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}

std::uint32_t SumWords(std::string_view bytes, std::uint32_t sum)
{
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto high = static_cast<std::uint8_t>(bytes[i]);
        const auto low = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : 0;
        sum += static_cast<std::uint32_t>(high << 8 | low);
    }
    return sum;
}

std::uint16_t Fold(std::uint32_t sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::string Addresses()
{
    std::string out;
    for (int twice = 0; twice < 2; ++twice)
        for (std::uint8_t b : Loopback)
            out.push_back(static_cast<char>(b));
    return out;
}
} // namespace

PcapWriter::PcapWriter()
{
    PutLittle32(m_bytes, 0xA1B2C3D4); // microsecond timestamps, little-endian
    PutLittle16(m_bytes, 2);
    PutLittle16(m_bytes, 4);
    PutLittle32(m_bytes, 0); // time zone
    PutLittle32(m_bytes, 0); // timestamp accuracy
    PutLittle32(m_bytes, 65535);
    PutLittle32(m_bytes, 1); // Ethernet
}

void PcapWriter::AddFrame(std::string_view frame)
{
    PutLittle32(m_bytes, 1262304000 + m_records);
    PutLittle32(m_bytes, 1000 * m_records);
    PutLittle32(m_bytes, static_cast<std::uint32_t>(frame.size()));
    PutLittle32(m_bytes, static_cast<std::uint32_t>(frame.size()));
    m_bytes += frame;
    ++m_records;
}

std::uint16_t PcapWriter::UdpChecksum(std::uint16_t sourcePort, std::uint16_t destinationPort, std::uint16_t length,
                                      std::string_view payload)
{
    std::string pseudo = Addresses();
    pseudo.push_back(0);
    pseudo.push_back(17);
    PutBig16(pseudo, length);
    PutBig16(pseudo, sourcePort);
    PutBig16(pseudo, destinationPort);
    PutBig16(pseudo, length);
    PutBig16(pseudo, 0);
    const std::uint16_t sum = Fold(SumWords(payload, SumWords(pseudo, 0)));
    // Zero on the wire means "no checksum", so a computed zero is sent as all ones.
    return sum == 0 ? 0xFFFF : sum;
}

void PcapWriter::Add(const CapturedDatagram &datagram)
{
    const auto trueLength = static_cast<std::uint16_t>(8 + datagram.payload.size());
    const std::uint16_t udpLength = datagram.udpLength.value_or(trueLength);

    std::string frame;
    frame += std::string_view("\x00\x11\x22\x33\x44\x55\x00\x66\x77\x88\x99\xAA\x08\x00", 14);

    std::string ip;
    ip.push_back(0x45);
    ip.push_back(0);
    PutBig16(ip, static_cast<std::uint16_t>(20 + trueLength));
    PutBig16(ip, static_cast<std::uint16_t>(0x1000 + m_records));
    PutBig16(ip, 0x4000); // don't fragment
    ip.push_back(64);
    ip.push_back(17);
    PutBig16(ip, 0);
    ip += Addresses();
    const std::uint16_t ipChecksum = Fold(SumWords(ip, 0));
    ip[10] = static_cast<char>(ipChecksum >> 8);
    ip[11] = static_cast<char>(ipChecksum & 0xFF);
    frame += ip;

    PutBig16(frame, datagram.sourcePort);
    PutBig16(frame, datagram.destinationPort);
    PutBig16(frame, udpLength);
    PutBig16(frame, datagram.checksum.value_or(
                        UdpChecksum(datagram.sourcePort, datagram.destinationPort, trueLength, datagram.payload)));
    frame += datagram.payload;
    AddFrame(frame);
}

bool PcapWriter::WriteTo(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(m_bytes.data(), static_cast<qint64>(m_bytes.size())) == static_cast<qint64>(m_bytes.size());
}
