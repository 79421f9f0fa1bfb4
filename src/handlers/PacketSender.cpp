#include "handlers/PacketSender.h"

#include "engine/Framing.h"
#include "engine/MessageComposer.h"
#include "engine/PacketBuilder.h"
#include "engine/PacketOptions.h"
#include "transport/SocketEndpoint.h"

PacketSender::PacketSender(SendState &state, const PacketOptions &options, SocketEndpoint &udp, SocketEndpoint &tcp)
    : m_state(state), m_options(options), UDP1(udp), TCP1(tcp)
{}

void PacketSender::SendSyslogPacket(std::int16_t priority, std::string_view originalAddressText,
                                    std::string_view rfcHeaderText, std::string_view messageBody)
{
    std::string packet =
        BuildSyslogPacket(priority, originalAddressText, rfcHeaderText, messageBody, m_options.NoPriority(),
                          m_state.CorruptData == 1, m_options.SendHugePackets(), m_options.AddCRLF());
    Transmit(packet);
}

void PacketSender::SendComposedPacket(std::int16_t priority, const ComposedView &message)
{
    std::string packet;
    AppendComposedPacket(packet, priority, message, m_options.NoPriority(), m_state.CorruptData == 1,
                         m_options.SendHugePackets(), m_options.AddCRLF());
    Transmit(packet);
}

void PacketSender::Transmit(std::string &packet)
{
    if (m_options.TransportIndex() == 0) {
        if (UDP1.SendData(packet))
            CountMessageSent(m_state);
        return;
    }

    FrameInPlace(packet, 0, m_options.StreamFraming());
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
