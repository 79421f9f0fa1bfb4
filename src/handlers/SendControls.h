#pragma once

#include "common/SendState.h"
#include "shell/Services.h"

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;
class MessageComposer;
class PacketSender;
class PriorityInputs;
class SendScheduler;
class SocketEndpoint;
class SourceFile;
class Statistics;
class StatusPanels;
class TargetValidationControl;
class TcpSessionControl;
class WindowTimer;
struct MessageFormatSettings;
struct TlsSettings;

// What the window hands its sending, statistics and session handlers: the
// controls, endpoints, timers and state they work on, by their window names.
// The window fills it in once its controls exist; the handlers never see the
// window class itself.
struct SendControls {
    QWidget *Window = nullptr; // owner of message boxes; gone means closed
    SendState *StatePtr = nullptr;
    const Services *ServicesPtr = nullptr;
    const bool *ClosingPtr = nullptr;

    QComboBox *TargetIP = nullptr;
    QComboBox *SourceIP = nullptr;
    QLineEdit *TxtPriority = nullptr;
    QComboBox *PortNumber = nullptr;
    QComboBox *SourcePortNumber = nullptr;
    QComboBox *Transport = nullptr;
    QComboBox *Message = nullptr;
    QComboBox *SendOptions = nullptr;
    QCheckBox *BadPackets = nullptr;
    QCheckBox *AddCRLF = nullptr;
    QSlider *Slider1 = nullptr;
    QPushButton *CmdConnect = nullptr;
    QPushButton *CmdSend = nullptr;
    StatusPanels *StatusBar1 = nullptr;

    SocketEndpoint *UDP1 = nullptr;
    SocketEndpoint *TCP1 = nullptr;
    WindowTimer *tmrSend = nullptr;
    WindowTimer *Timer2 = nullptr;
    WindowTimer *StatsUpdate = nullptr;

    SourceFile *Source = nullptr;
    MessageComposer *Composer = nullptr;
    PacketSender *Sender = nullptr;
    const PriorityInputs *Inputs = nullptr;
    // Taken when sending starts and when a session connects.
    const MessageFormatSettings *FormatSettings = nullptr;
    const TlsSettings *TlsOptions = nullptr;

    // The other handlers, for the commands that call each other.
    TargetValidationControl *Validation = nullptr;
    TcpSessionControl *TcpSession = nullptr;
    Statistics *Stats = nullptr;

    std::function<void()> DisableSettingFrames;
    std::function<void()> EnableSettingFrames;

    SendState &State() const { return *StatePtr; }
    const Services &services() const { return *ServicesPtr; }
    bool Closing() const { return *ClosingPtr; }
};
