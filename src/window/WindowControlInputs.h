#pragma once

#include "engine/MessageComposer.h"
#include "engine/PacketOptions.h"
#include "engine/Priority.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class SocketEndpoint;
struct MessageFormatSettings;

// The engine's inputs read live from the window's controls, for every packet.
class WindowControlInputs final : public PacketOptions, public PriorityInputs, public ComposeInputs {
public:
    // The window's controls read, by their window names.
    struct Controls {
        QComboBox *Facility;
        QComboBox *Level;
        QLineEdit *TxtPriority;
        QCheckBox *ChkPriority;
        QComboBox *Transport;
        QCheckBox *NoPriority;
        QCheckBox *SendHugePackets;
        QCheckBox *AddCRLF;
        QCheckBox *ChkRFCMessages;
        const SocketEndpoint *UDP1;
        const MessageFormatSettings &FormatSettings;
    };

    explicit WindowControlInputs(const Controls &controls) : w(controls) {}

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
    const Controls w;
};
