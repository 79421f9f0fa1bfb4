#pragma once

#include "engine/MessageComposer.h"
#include "engine/PacketOptions.h"
#include "engine/Priority.h"

class Quillon;

// The engine's inputs read live from the window's controls, for every packet.
class WindowControlInputs final : public PacketOptions, public PriorityInputs, public ComposeInputs {
public:
    explicit WindowControlInputs(const Quillon &window) : w(window) {}

    bool NoPriority() const override;
    bool SendHugePackets() const override;
    bool AddCRLF() const override;
    int TransportIndex() const override;
    Framing StreamFraming() const override;

    bool ChkPriorityChecked() const override;
    std::string TxtPriorityText() const override;
    int FacilityIndex() const override;
    int LevelIndex() const override;

    bool RfcHeaderChecked() const override;
    std::string LocalHostName() const override;

private:
    const Quillon &w;
};
