#pragma once

#include "common/SendState.h"

#include <cstdint>
#include <string>
#include <string_view>

class PacketOptions;
class SocketEndpoint;
struct ComposedView;

// Builds, transmits and counts packets through the two endpoints.
class PacketSender {
public:
    PacketSender(SendState &state, const PacketOptions &options, SocketEndpoint &udp, SocketEndpoint &tcp);

    // Failures to send are swallowed: the packet is just not counted.
    void SendSyslogPacket(std::int16_t priority, std::string_view originalAddressText, std::string_view rfcHeaderText,
                          std::string_view messageBody);
    // In the message's format; over TCP framed as the options say.
    void SendComposedPacket(std::int16_t priority, const ComposedView &message);

private:
    void Transmit(std::string &packet);

    SendState &m_state;
    const PacketOptions &m_options;
    SocketEndpoint &UDP1;
    SocketEndpoint &TCP1;
};
