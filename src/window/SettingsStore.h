#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QSlider;
class QWidget;
class MessageSourceControls;
class SocketEndpoint;
struct MessageFormatSettings;
struct SendState;
struct Services;
struct TlsSettings;

// Every setting of the window, read once at load and written once at unload
// in the per-user store: application "Wren Quillon", section "Settings".
class SettingsStore {
public:
    // The window's controls and state that are loaded and saved, by their
    // window names.
    struct Controls {
        QWidget *Window; // owner of the message box
        QComboBox *TargetIP;
        QComboBox *SourceIP;
        QComboBox *Facility;
        QComboBox *Level;
        QComboBox *PortNumber;
        QComboBox *SourcePortNumber;
        QComboBox *Transport;
        QComboBox *Message;
        QComboBox *SendOptions;
        QCheckBox *BadPackets;
        QCheckBox *NoPriority;
        QCheckBox *SendHugePackets;
        QCheckBox *AddCRLF;
        QCheckBox *ChkRFCMessages;
        QSlider *Slider1;
        SocketEndpoint *UDP1;
        MessageSourceControls &MessageSource;
        SendState &State;
        MessageFormatSettings &FormatSettings;
        TlsSettings &TlsOptions;
        const Services &services;
    };

    explicit SettingsStore(const Controls &controls);

    void LoadSettings();
    void SaveSettings();

    // Where the store lives on this machine.
    static QString StoreFileName();

private:
    void ReportUnsavedSettings(const QString &fileName, const QString &why);

    const Controls w;
};
