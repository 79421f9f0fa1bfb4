#pragma once

#include "common/SendState.h"
#include "engine/MessageFormat.h"
#include "handlers/SendControls.h"
#include "shell/Services.h"
#include "transport/TlsSettings.h"

#include <QMainWindow>

#include <array>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QSlider;
class QToolButton;

class FocusLineEdit;
class HelpService;
class MessageComposer;
class MessageSourceControls;
class PacketSender;
class PriorityControls;
class SendScheduler;
class SettingsStore;
class SocketEndpoint;
class SourceFile;
class Statistics;
class StatusPanels;
class TargetValidationControl;
class TcpSessionControl;
class WindowControlInputs;
class WindowTimer;

// The main window. It owns every control, the two endpoints and the four
// timers; each subsystem is a small class that works on them by name.
class Quillon : public QMainWindow {
    Q_OBJECT
public:
    explicit Quillon(Services services = DesktopServices(), QWidget *parent = nullptr);
    ~Quillon() override;

    // Start-up and shut-down, in order.
    void Form_Load();
    void Form_QueryUnload();
    void Form_Unload();
    void MnuExit_Click();
    // Opens "Message format and framing"; its settings apply from the next
    // send or connection on.
    void MnuMessageFormat_Click();

    void Command1_Click(int index);
    void ApplyWindowLayout();
    void DisableSettingFrames();
    void EnableSettingFrames();

    // Outer height in twips, as the layout toggle uses it.
    int OuterHeightTwips() const;

    // Design sizes are twips; one factor, fitted to this platform's fonts,
    // turns them into pixels for every window of the program.
    double PixelsPerTwip = 1.0 / 15;
    int TwipsToPixels(int twips) const;
    int PixelsToTwips(int pixels) const;

    // Fields of the window.
    bool SmallLayout = false;
    int FullHeight = 0;
    bool Closing = false;
    int HelpContextId = 0;

    SendState State;
    Services services;
    // The message format, framing and TLS, loaded and saved with the rest.
    MessageFormatSettings FormatSettings;
    TlsSettings TlsOptions;

    // Controls.
    QComboBox *TargetIP = nullptr;
    QComboBox *SourceIP = nullptr;
    QComboBox *Facility = nullptr;
    QComboBox *Level = nullptr;
    FocusLineEdit *TxtPriority = nullptr;
    QCheckBox *ChkPriority = nullptr;
    QComboBox *PortNumber = nullptr;
    QComboBox *SourcePortNumber = nullptr;
    QComboBox *Transport = nullptr;
    QComboBox *Message = nullptr;
    QPushButton *CmdBrowseFile = nullptr;
    QComboBox *SendOptions = nullptr;
    QCheckBox *BadPackets = nullptr;
    QCheckBox *NoPriority = nullptr;
    QCheckBox *SendHugePackets = nullptr;
    QCheckBox *AddCRLF = nullptr;
    QCheckBox *ChkRFCMessages = nullptr;
    QSlider *Slider1 = nullptr;
    QPushButton *CmdReset = nullptr;
    QPushButton *CmdConnect = nullptr;
    QPushButton *CmdSend = nullptr;
    std::array<QToolButton *, 2> Command1{};
    std::array<QGroupBox *, 12> Frame1{};
    QFrame *FrameMain = nullptr;
    QFrame *FrameControls = nullptr;
    QFrame *Line1 = nullptr;
    StatusPanels *StatusBar1 = nullptr;
    std::array<QIcon, 2> Picture1;

    QMenu *MnuFile = nullptr;
    QAction *MnuMessageFormat = nullptr;
    QAction *MnuExit = nullptr;
    QMenu *MnuHelp = nullptr;
    QAction *MnuHelpContext = nullptr;
    QAction *MnuHelpWebsite = nullptr;
    QAction *MnuHelpAbout = nullptr;

    SocketEndpoint *UDP1 = nullptr;
    SocketEndpoint *TCP1 = nullptr;

    WindowTimer *tmrSend = nullptr;
    WindowTimer *Timer2 = nullptr;
    WindowTimer *StatsUpdate = nullptr;
    WindowTimer *UpdateClock = nullptr;

    // The engine, fed by the controls.
    std::unique_ptr<SourceFile> Source;
    std::unique_ptr<WindowControlInputs> Inputs;
    std::unique_ptr<PacketSender> Sender;
    std::unique_ptr<MessageComposer> Composer;

    // Subsystems with their handlers.
    std::unique_ptr<SettingsStore> Settings;
    std::unique_ptr<PriorityControls> Priority;
    std::unique_ptr<MessageSourceControls> MessageSource;
    std::unique_ptr<TargetValidationControl> Validation;
    std::unique_ptr<SendScheduler> Scheduler;
    std::unique_ptr<Statistics> Stats;
    std::unique_ptr<TcpSessionControl> TcpSession;
    std::unique_ptr<HelpService> Help;
    // What the sending, statistics and session handlers work on.
    SendControls Controls;

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void BuildControls();
    void ConnectHandlers();
    void FillSendControls();
    bool m_unloaded = false;
};
