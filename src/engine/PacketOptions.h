#pragma once

#include "engine/Framing.h"

// The packet options, read afresh for every packet from whatever supplies them
// (the window's check boxes, the command line's flags).
class PacketOptions {
public:
    virtual ~PacketOptions() = default;
    virtual bool NoPriority() const = 0;
    virtual bool SendHugePackets() const = 0;
    virtual bool AddCRLF() const = 0;
    // 0 = UDP, anything else = TCP.
    virtual int TransportIndex() const = 0;
    // How TCP packets are told apart; never applied to UDP.
    virtual Framing StreamFraming() const { return Framing::None; }
};

// Options that stay as they are set.
class FixedPacketOptions final : public PacketOptions {
public:
    bool noPriority = false;
    bool sendHugePackets = false;
    bool addCrLf = false;
    int transportIndex = 0;
    Framing framing = Framing::None;

    bool NoPriority() const override { return noPriority; }
    bool SendHugePackets() const override { return sendHugePackets; }
    bool AddCRLF() const override { return addCrLf; }
    int TransportIndex() const override { return transportIndex; }
    Framing StreamFraming() const override { return framing; }
};
