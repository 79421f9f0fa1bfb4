#include "engine/PacketBuilder.h"

#include "common/Random.h"
#include "common/TextHelpers.h"
#include "engine/PacketOptions.h"
#include "transport/SocketEndpoint.h"

#include <cmath>

namespace {
constexpr std::string_view HexPrefix = "HEX=";

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a pair the way the lenient number reading reads "&H" and the pair:
// blanks are skipped, the first non-digit ends it, no digit at all is 0.
char ReadHexPair(std::string_view pair)
{
    int value = 0;
    for (char c : pair) {
        if (c == ' ' || c == '\t' || c == '\n')
            continue;
        const int digit = HexDigitValue(c);
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return static_cast<char>(value);
}

void Corrupt(std::string &packet)
{
    // An empty packet has no character to replace; drawing nothing keeps the
    // random sequence of the following packets as it would be.
    if (packet.empty())
        return;
    const double r1 = NextRandom();
    const double r2 = NextRandom();
    const double span = static_cast<double>(packet.size() - 1);
    const auto position = static_cast<std::size_t>(std::floor(r1 * span));
    const int code = static_cast<int>(std::floor(r2 * 254)) + 1;
    packet[position] = static_cast<char>(static_cast<unsigned char>(code));
}
} // namespace

std::string DecodeHexBytes(std::string_view digits)
{
    const std::size_t step = digits.size() >= 3 && digits[2] == ' ' ? 3 : 2;
    std::string bytes;
    bytes.reserve(digits.size() / step + 1);
    for (std::size_t i = 0; i < digits.size(); i += step)
        bytes.push_back(ReadHexPair(digits.substr(i, 2)));
    return bytes;
}

std::string BuildSyslogPacket(std::int32_t priority, std::string_view originalAddressText,
                              std::string_view rfcHeaderText, std::string_view messageBody, bool noPriority,
                              bool corrupt, bool sendHugePackets, bool addCrLf)
{
    std::string packet;
    if (StartsWithNoCase(messageBody, HexPrefix)) {
        packet = DecodeHexBytes(messageBody.substr(HexPrefix.size()));
    } else {
        packet.reserve(8 + rfcHeaderText.size() + originalAddressText.size() + messageBody.size() +
                       (sendHugePackets ? OversizePadding : 0) + 2);
        if (!noPriority) {
            packet.push_back('<');
            packet += std::to_string(priority);
            packet.push_back('>');
        }
        packet += rfcHeaderText;
        packet += originalAddressText;
        packet += messageBody;
    }
    if (corrupt)
        Corrupt(packet);
    if (sendHugePackets)
        packet.append(OversizePadding, ' ');
    if (addCrLf)
        packet += "\r\n";
    return packet;
}

void CountMessageSent(SendState &state)
{
    // Counted in 64 bits so a counter that was stored out of range wraps
    // instead of overflowing.
    const std::int64_t next = static_cast<std::int64_t>(state.MessagesSent) + 1;
    state.MessagesSent = next >= CounterWrap ? 0 : static_cast<std::int32_t>(next);
}

PacketSender::PacketSender(SendState &state, const PacketOptions &options, SocketEndpoint &udp, SocketEndpoint &tcp)
    : m_state(state), m_options(options), UDP1(udp), TCP1(tcp)
{}

void PacketSender::SendSyslogPacket(std::int16_t priority, std::string_view originalAddressText,
                                    std::string_view rfcHeaderText, std::string_view messageBody)
{
    const std::string packet =
        BuildSyslogPacket(priority, originalAddressText, rfcHeaderText, messageBody, m_options.NoPriority(),
                          m_state.CorruptData == 1, m_options.SendHugePackets(), m_options.AddCRLF());

    if (m_options.TransportIndex() == 0) {
        if (UDP1.SendData(packet))
            CountMessageSent(m_state);
        return;
    }

    bool failed = false;
    if (TCP1.State() == SocketEndpoint::StateConnected)
        failed = !TCP1.SendData(packet);
    if (failed)
        return;
    // The session may have dropped while sending; only a packet that left on a
    // live session counts.
    if (TCP1.State() != SocketEndpoint::StateConnected)
        return;
    CountMessageSent(m_state);
}
