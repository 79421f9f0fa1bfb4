#include "window/Quillon.h"

#include "common/Version.h"
#include "engine/MessageComposer.h"
#include "engine/Vocabulary.h"
#include "handlers/PacketSender.h"
#include "handlers/SendScheduler.h"
#include "handlers/Statistics.h"
#include "handlers/StatusPanels.h"
#include "handlers/TargetValidationControl.h"
#include "handlers/TcpSessionControl.h"
#include "handlers/WindowTimer.h"
#include "shell/HelpService.h"
#include "shell/VisualStyles.h"
#include "sources/SourceFile.h"
#include "transport/SocketEndpoint.h"
#include "transport/UdpEndpointOperations.h"
#include "window/FocusLineEdit.h"
#include "window/ListFilling.h"
#include "window/MessageFormatDialog.h"
#include "window/MessageSourceControls.h"
#include "window/PriorityControls.h"
#include "window/SettingsStore.h"
#include "window/ToggleImages.h"
#include "window/WindowControlInputs.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <functional>
#include <span>

namespace {
// Positions and sizes in twips, at the design's 15 twips per pixel.
struct DesignRect {
    int left;
    int top;
    int width;
    int height;
};

constexpr int DesignTwipsPerPixel = 15;
constexpr int ClientWidth = 6600;
constexpr int ClientHeight = 5280;
constexpr DesignRect FrameMainRect{60, 60, 6492, 4392};
constexpr DesignRect FrameControlsRect{60, 4500, 6492, 432};
constexpr int CompactControlsTop = 60;
constexpr int CompactHeightReduction = 4440;
// Room below the buttons, as much as above the settings.
constexpr int ClientBottomMargin = 60;

constexpr std::array<DesignRect, 12> FrameRects{{{0, 0, 2805, 612},
                                                 {2880, 0, 3192, 612},
                                                 {0, 720, 1692, 612},
                                                 {1800, 720, 1692, 612},
                                                 {3600, 720, 2892, 612},
                                                 {1800, 1440, 1692, 612},
                                                 {3600, 1440, 2892, 612},
                                                 {0, 1440, 1692, 612},
                                                 {0, 2160, 6492, 612},
                                                 {3600, 2880, 2892, 672},
                                                 {0, 2880, 3492, 1512},
                                                 {3600, 3720, 2892, 672}}};

constexpr std::array<const char *, 12> FrameCaptions{"Target IP address",
                                                     "Source IP address",
                                                     "Facility",
                                                     "Level",
                                                     "Priority",
                                                     "Destination port",
                                                     "Source port",
                                                     "Transport",
                                                     "Message text to send",
                                                     "Send options",
                                                     "Extra options",
                                                     "Inter-&message delay (ms)"};

// The buttons' lefts are the design's; their sizes fill the row.
constexpr DesignRect ResetRect{0, 0, 1380, 372};
constexpr DesignRect ConnectRect{1500, 0, 1380, 372};
constexpr DesignRect SendRect{5220, 0, 870, 372};
constexpr DesignRect ToggleControlsRect{6150, 15, 342, 342};
constexpr DesignRect ToggleMainRect{6150, 36, 342, 342};
constexpr int BrowseButtonWidth = 375;

// Status panels: design texts and widths in hundredths of a millimetre.
constexpr std::array<const char *, 6> PanelTexts{"Status : Idle ", " 0 messages sent ", " 0 MPS ", "",
                                                 " 00:00 ",        " 01-Jan-2010 "};
constexpr std::array<int, 6> PanelWidths{4419, 2408, 1085, 902, 900, 1773};
constexpr std::array<const char *, 6> PanelWidestTexts{
    "Status : Messages sent OK.", "999999 messages sent ", "999 MPS ", "", " 00:00 ", " 06-Dec-2026 "};

int HundredthsMmToTwips(int hundredths)
{
    return static_cast<int>(std::lround(hundredths * 1440.0 / 2540.0));
}

QString Text(const char *text)
{
    return QString::fromUtf8(text);
}

// The release of the mouse button on the slider, which Qt only reports for
// the handle.
class MouseReleaseWatcher final : public QObject {
public:
    MouseReleaseWatcher(QWidget *watched, std::function<void()> onRelease)
        : QObject(watched), m_watched(watched), m_onRelease(std::move(onRelease))
    {
        watched->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_watched && event->type() == QEvent::MouseButtonRelease && m_watched->isEnabled())
            m_onRelease();
        return false;
    }

private:
    QWidget *m_watched;
    std::function<void()> m_onRelease;
};

QComboBox *MakeList(QWidget *parent, const char *name, bool editable, const char *toolTip)
{
    auto *list = new QComboBox(parent);
    list->setObjectName(Text(name));
    list->setEditable(editable);
    list->setToolTip(Text(toolTip));
    if (editable) {
        // Typing neither adds entries nor completes them.
        list->setInsertPolicy(QComboBox::NoInsert);
        list->setCompleter(nullptr);
    }
    return list;
}

QCheckBox *MakeCheckBox(QWidget *parent, const char *name, const char *caption, const char *toolTip)
{
    auto *box = new QCheckBox(Text(caption), parent);
    box->setObjectName(Text(name));
    box->setToolTip(Text(toolTip));
    return box;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const char *caption, const char *toolTip)
{
    auto *button = new QPushButton(Text(caption), parent);
    button->setObjectName(Text(name));
    button->setToolTip(Text(toolTip));
    return button;
}

QBoxLayout *FrameLayout(QGroupBox *frame, QBoxLayout::Direction direction)
{
    auto *layout = new QBoxLayout(direction, frame);
    layout->setContentsMargins(6, 2, 6, 4);
    layout->setSpacing(4);
    return layout;
}
} // namespace

Quillon::Quillon(Services services, QWidget *parent) : QMainWindow(parent), services(services)
{
    // Form_Initialize: the style adaptation is decided before any frame exists.
    InitVisualStyles();

    BuildControls();

    UDP1 = new SocketEndpoint(SocketEndpoint::UdpProtocol, this);
    UDP1->setObjectName(QStringLiteral("UDP1"));
    TCP1 = new SocketEndpoint(SocketEndpoint::TcpProtocol, this);
    TCP1->setObjectName(QStringLiteral("TCP1"));

    Source = std::make_unique<SourceFile>(State);
    Inputs = std::make_unique<WindowControlInputs>(WindowControlInputs::Controls{
        .Facility = Facility,
        .Level = Level,
        .TxtPriority = TxtPriority,
        .ChkPriority = ChkPriority,
        .Transport = Transport,
        .NoPriority = NoPriority,
        .SendHugePackets = SendHugePackets,
        .AddCRLF = AddCRLF,
        .ChkRFCMessages = ChkRFCMessages,
        .UDP1 = UDP1,
        .FormatSettings = FormatSettings,
    });
    Sender = std::make_unique<PacketSender>(State, *Inputs, *UDP1, *TCP1);
    Composer = std::make_unique<MessageComposer>(State, *Inputs, *this->services.clock, *Source);

    Priority = std::make_unique<PriorityControls>(PriorityControls::Controls{
        .Facility = Facility,
        .Level = Level,
        .TxtPriority = TxtPriority,
        .ChkPriority = ChkPriority,
        .State = State,
        .Inputs = *Inputs,
    });
    MessageSource = std::make_unique<MessageSourceControls>(MessageSourceControls::Controls{
        .Window = this,
        .Message = Message,
        .CmdBrowseFile = CmdBrowseFile,
        .SendOptions = SendOptions,
        .Slider1 = Slider1,
        .Frame1_11 = Frame1[11],
        .tmrSend = tmrSend,
        .Source = *Source,
        .State = State,
        .services = this->services,
        .PixelsPerTwip = PixelsPerTwip,
    });
    Settings = std::make_unique<SettingsStore>(SettingsStore::Controls{
        .Window = this,
        .TargetIP = TargetIP,
        .SourceIP = SourceIP,
        .Facility = Facility,
        .Level = Level,
        .PortNumber = PortNumber,
        .SourcePortNumber = SourcePortNumber,
        .Transport = Transport,
        .Message = Message,
        .SendOptions = SendOptions,
        .BadPackets = BadPackets,
        .NoPriority = NoPriority,
        .SendHugePackets = SendHugePackets,
        .AddCRLF = AddCRLF,
        .ChkRFCMessages = ChkRFCMessages,
        .Slider1 = Slider1,
        .UDP1 = UDP1,
        .MessageSource = *MessageSource,
        .State = State,
        .FormatSettings = FormatSettings,
        .TlsOptions = TlsOptions,
        .services = this->services,
    });
    FillSendControls();
    Validation = std::make_unique<TargetValidationControl>(Controls);
    Scheduler = std::make_unique<SendScheduler>(Controls);
    Stats = std::make_unique<Statistics>(Controls);
    TcpSession = std::make_unique<TcpSessionControl>(Controls);
    Controls.Validation = Validation.get();
    Controls.TcpSession = TcpSession.get();
    Controls.Stats = Stats.get();
    Help = std::make_unique<HelpService>(*this, this->services, HelpContextId, PixelsPerTwip);

    ConnectHandlers();
    SubclassFrames(this);
}

void Quillon::FillSendControls()
{
    SendControls &c = Controls;
    c.Window = this;
    c.StatePtr = &State;
    c.ServicesPtr = &services;
    c.ClosingPtr = &Closing;
    c.TargetIP = TargetIP;
    c.SourceIP = SourceIP;
    c.TxtPriority = TxtPriority;
    c.PortNumber = PortNumber;
    c.SourcePortNumber = SourcePortNumber;
    c.Transport = Transport;
    c.Message = Message;
    c.SendOptions = SendOptions;
    c.BadPackets = BadPackets;
    c.AddCRLF = AddCRLF;
    c.Slider1 = Slider1;
    c.CmdConnect = CmdConnect;
    c.CmdSend = CmdSend;
    c.StatusBar1 = StatusBar1;
    c.UDP1 = UDP1;
    c.TCP1 = TCP1;
    c.tmrSend = tmrSend;
    c.Timer2 = Timer2;
    c.StatsUpdate = StatsUpdate;
    c.Source = Source.get();
    c.Composer = Composer.get();
    c.Sender = Sender.get();
    c.Inputs = Inputs.get();
    c.FormatSettings = &FormatSettings;
    c.TlsOptions = &TlsOptions;
    c.DisableSettingFrames = [this] { DisableSettingFrames(); };
    c.EnableSettingFrames = [this] { EnableSettingFrames(); };
}

Quillon::~Quillon()
{
    // The handlers go before the controls, so nothing the controls, timers or
    // endpoints signal while they are torn down may reach them.
    for (QObject *child : findChildren<QObject *>())
        child->blockSignals(true);
}

int Quillon::TwipsToPixels(int twips) const
{
    return static_cast<int>(std::lround(twips * PixelsPerTwip));
}

int Quillon::PixelsToTwips(int pixels) const
{
    return static_cast<int>(std::lround(pixels / PixelsPerTwip));
}

int Quillon::OuterHeightTwips() const
{
    // The window manager's decorations are not known before the window is
    // shown, so the outer height is the height this program sets.
    return PixelsToTwips(height());
}

void Quillon::BuildControls()
{
    setObjectName(QStringLiteral("Quillon"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    Line1 = new QFrame(client);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);

    FrameMain = new QFrame(client);
    FrameMain->setObjectName(QStringLiteral("FrameMain"));
    FrameMain->setFrameShape(QFrame::NoFrame);

    for (std::size_t i = 0; i < Frame1.size(); ++i) {
        Frame1[i] = new QGroupBox(Text(FrameCaptions[i]), FrameMain);
        Frame1[i]->setObjectName(QStringLiteral("Frame1_%1").arg(i));
    }

    auto *targetLayout = FrameLayout(Frame1[0], QBoxLayout::TopToBottom);
    TargetIP = MakeList(Frame1[0], "TargetIP", true, "Enter the address of the Syslog Daemon here");
    targetLayout->addWidget(TargetIP);

    auto *sourceLayout = FrameLayout(Frame1[1], QBoxLayout::TopToBottom);
    SourceIP = MakeList(Frame1[1], "SourceIP", true,
                        "This can simulate another originating address by using the 'original host=' option "
                        "within the message.");
    sourceLayout->addWidget(SourceIP);

    auto *facilityLayout = FrameLayout(Frame1[2], QBoxLayout::TopToBottom);
    Facility = MakeList(Frame1[2], "Facility", false, "Syslog Facility value");
    facilityLayout->addWidget(Facility);

    auto *levelLayout = FrameLayout(Frame1[3], QBoxLayout::TopToBottom);
    Level = MakeList(Frame1[3], "Level", false, "Syslog severity value (Debug is the lowest value)");
    levelLayout->addWidget(Level);

    auto *priorityLayout = FrameLayout(Frame1[4], QBoxLayout::LeftToRight);
    TxtPriority = new FocusLineEdit(Frame1[4]);
    TxtPriority->setObjectName(QStringLiteral("TxtPriority"));
    TxtPriority->setToolTip(
        QStringLiteral("Priority values range from 0 to 191 although numbers up to 255 are accepted."));
    ChkPriority = MakeCheckBox(Frame1[4], "ChkPriority", "Use this &value", "");
    priorityLayout->addWidget(TxtPriority, 1);
    priorityLayout->addWidget(ChkPriority);

    auto *portLayout = FrameLayout(Frame1[5], QBoxLayout::TopToBottom);
    PortNumber =
        MakeList(Frame1[5], "PortNumber", true, "Enter a port number to use (514 is the standard port for Syslog)");
    portLayout->addWidget(PortNumber);

    auto *sourcePortLayout = FrameLayout(Frame1[6], QBoxLayout::TopToBottom);
    SourcePortNumber = MakeList(Frame1[6], "SourcePortNumber", true,
                                "Enter a source port number to send the message from (Random > 1023 is the default)");
    sourcePortLayout->addWidget(SourcePortNumber);

    auto *transportLayout = FrameLayout(Frame1[7], QBoxLayout::TopToBottom);
    Transport =
        MakeList(Frame1[7], "Transport", false, "Select the message transport type (Syslog UDP is the default)");
    transportLayout->addWidget(Transport);

    auto *messageLayout = FrameLayout(Frame1[8], QBoxLayout::LeftToRight);
    Message = MakeList(Frame1[8], "Message", true, "Enter a message here");
    CmdBrowseFile = MakeButton(Frame1[8], "CmdBrowseFile", "...", "Browse for file");
    QFont bold = CmdBrowseFile->font();
    bold.setBold(true);
    CmdBrowseFile->setFont(bold);
    CmdBrowseFile->setMinimumWidth(CmdBrowseFile->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 8);
    messageLayout->addWidget(Message, 1);
    messageLayout->addWidget(CmdBrowseFile);

    auto *sendOptionsLayout = FrameLayout(Frame1[9], QBoxLayout::TopToBottom);
    SendOptions = MakeList(Frame1[9], "SendOptions", false, "Choose how often you would like to send the message.");
    sendOptionsLayout->addWidget(SendOptions);

    auto *extraLayout = FrameLayout(Frame1[10], QBoxLayout::TopToBottom);
    BadPackets = MakeCheckBox(Frame1[10], "BadPackets", "Randomly corrupt the data &being sent",
                              "Change a random character in the syslog message.");
    NoPriority = MakeCheckBox(Frame1[10], "NoPriority", "Send message with &no priority code.",
                              "Removes the priority code from the message.");
    SendHugePackets = MakeCheckBox(Frame1[10], "SendHugePackets", "Send oversi&ze packets (>1024 Bytes)",
                                   "Send oversized packets to test against buffer overflow");
    AddCRLF =
        MakeCheckBox(Frame1[10], "AddCRLF", "Add a CR && &LF to end of message", "Append CR and LF to end of message");
    ChkRFCMessages =
        MakeCheckBox(Frame1[10], "ChkRFCMessages", "&Use Syslog RFC header", "Use the Syslog RFC format for messages");
    for (QCheckBox *box : {BadPackets, NoPriority, SendHugePackets, AddCRLF, ChkRFCMessages}) {
        extraLayout->addWidget(box);
        extraLayout->addStretch(1);
    }

    auto *delayLayout = FrameLayout(Frame1[11], QBoxLayout::TopToBottom);
    Slider1 = new QSlider(Qt::Horizontal, Frame1[11]);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setRange(10, 2000);
    Slider1->setValue(10);
    Slider1->setSingleStep(10);
    Slider1->setPageStep(200);
    Slider1->setTickInterval(100);
    Slider1->setTickPosition(QSlider::TicksBelow);
    delayLayout->addWidget(Slider1);

    FrameControls = new QFrame(client);
    FrameControls->setObjectName(QStringLiteral("FrameControls"));
    FrameControls->setFrameShape(QFrame::NoFrame);
    CmdReset = MakeButton(FrameControls, "CmdReset", "&Reset counters",
                          "Reset the messages sent counter and #### sequence number");
    CmdConnect = MakeButton(FrameControls, "CmdConnect", "Conn&ect", "Connect via TCP to the specified host");
    CmdSend = MakeButton(FrameControls, "CmdSend", "&Send", "Start sending a Syslog message");

    Picture1 = DrawToggleImages();
    for (std::size_t i = 0; i < Command1.size(); ++i) {
        Command1[i] = new QToolButton(i == 0 ? FrameControls : static_cast<QWidget *>(FrameMain));
        Command1[i]->setObjectName(QStringLiteral("Command1_%1").arg(i));
        Command1[i]->setToolTip(QStringLiteral("Toggle large/small window"));
        Command1[i]->setIcon(Picture1[1]);
        Command1[i]->setIconSize(QSize(16, 16));
        Command1[i]->setFocusPolicy(Qt::StrongFocus);
    }

    // Enter presses a focused button, and the default button from anywhere
    // else (keyPressEvent).
    CmdBrowseFile->setAutoDefault(true);
    CmdReset->setAutoDefault(true);
    CmdConnect->setAutoDefault(true);
    CmdSend->setAutoDefault(true);
    CmdSend->setDefault(true);

    StatusBar1 = new StatusPanels(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);
    for (int panel = 1; panel <= 6; ++panel)
        StatusBar1->SetPanelText(panel, Text(PanelTexts[static_cast<std::size_t>(panel - 1)]));

    tmrSend = new WindowTimer(0, this);
    tmrSend->setObjectName(QStringLiteral("tmrSend"));
    Timer2 = new WindowTimer(0, this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    StatsUpdate = new WindowTimer(0, this);
    StatsUpdate->setObjectName(QStringLiteral("StatsUpdate"));
    UpdateClock = new WindowTimer(5000, this);
    UpdateClock->setObjectName(QStringLiteral("UpdateClock"));

    MnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    MnuFile->setObjectName(QStringLiteral("MnuFile"));
    MnuMessageFormat = MnuFile->addAction(QStringLiteral("Message &format and framing..."));
    MnuMessageFormat->setObjectName(QStringLiteral("MnuMessageFormat"));
    MnuMessageFormat->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    MnuMessageFormat->setShortcutContext(Qt::WindowShortcut);
    addAction(MnuMessageFormat);
    MnuFile->addSeparator();
    MnuExit = MnuFile->addAction(QStringLiteral("E&xit"));
    MnuExit->setObjectName(QStringLiteral("MnuExit"));
    MnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    MnuHelp->setObjectName(QStringLiteral("MnuHelp"));
    MnuHelpContext = MnuHelp->addAction(QStringLiteral("Contents and Index"));
    MnuHelpContext->setObjectName(QStringLiteral("MnuHelpContext"));
    MnuHelpContext->setShortcut(QKeySequence(Qt::Key_F1));
    MnuHelpContext->setShortcutContext(Qt::WindowShortcut);
    // On the window as well, so F1 works wherever the focus is.
    addAction(MnuHelpContext);
    MnuHelpWebsite = MnuHelp->addAction(QStringLiteral("&Visit the Corvane web site"));
    MnuHelpWebsite->setObjectName(QStringLiteral("MnuHelpWebsite"));
    MnuHelpAbout = MnuHelp->addAction(QStringLiteral("&About"));
    MnuHelpAbout->setObjectName(QStringLiteral("MnuHelpAbout"));

    // One scale for the whole design, large enough that every frame, button
    // and panel holds its contents in this platform's fonts. The lists are
    // measured with their entries, which the settings load puts back.
    const std::array<std::pair<QComboBox *, std::span<const std::string_view>>, 9> lists{{
        {Facility, Vocabulary::FacilityNames},
        {Level, Vocabulary::LevelNames},
        {SourceIP, Vocabulary::SourceAddressEntries},
        {SendOptions, Vocabulary::SendOptionEntries},
        {Transport, Vocabulary::TransportEntries},
        {PortNumber, Vocabulary::PortEntries},
        {SourcePortNumber, Vocabulary::SourcePortEntries},
        {Message, Vocabulary::MessageTemplates},
        {TargetIP, std::span<const std::string_view>()},
    }};
    for (const auto &[list, entries] : lists) {
        FillList(list, entries);
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    }
    {
        // The target is typed; the widest dotted address stands in for it.
        const QSignalBlocker blocker(TargetIP);
        TargetIP->addItem(QStringLiteral("255.255.255.255"));
    }

    double scale = 1.0;
    const auto fit = [&scale](QSize needed, const DesignRect &room) {
        scale = std::max({scale, needed.width() * double(DesignTwipsPerPixel) / room.width,
                          needed.height() * double(DesignTwipsPerPixel) / room.height});
    };
    for (std::size_t i = 0; i < Frame1.size(); ++i)
        fit(Frame1[i]->minimumSizeHint(), FrameRects[i]);
    fit(CmdReset->sizeHint(), ResetRect);
    fit(CmdConnect->sizeHint(), ConnectRect);
    fit(CmdSend->sizeHint(), SendRect);
    fit(Command1[0]->sizeHint(), ToggleControlsRect);
    for (std::size_t i = 0; i < PanelTexts.size(); ++i) {
        QLabel *panel = StatusBar1->Panel(static_cast<int>(i) + 1);
        // The widest text a panel will show, not its opening one, so a
        // six-digit count is not clipped later.
        const QString design = panel->text();
        panel->setText(Text(PanelWidestTexts[i]));
        fit(QSize(panel->sizeHint().width(), 1), DesignRect{0, 0, HundredthsMmToTwips(PanelWidths[i]), 1000});
        panel->setText(design);
    }
    // Rounded up to whole hundredths: a pixel more of some font metric does
    // not shift every edge of the window.
    PixelsPerTwip = std::ceil(scale * 100.0) / 100.0 / DesignTwipsPerPixel;

    for (const auto &[list, entries] : lists) {
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        const QSignalBlocker blocker(list);
        list->clear();
    }

    const auto place = [this](QWidget *widget, const DesignRect &rect) {
        // Edges are rounded, not sizes, so that neighbours stay apart.
        const int left = TwipsToPixels(rect.left);
        const int top = TwipsToPixels(rect.top);
        widget->setGeometry(left, top, TwipsToPixels(rect.left + rect.width) - left,
                            TwipsToPixels(rect.top + rect.height) - top);
        widget->setFixedSize(widget->size());
    };
    place(FrameMain, FrameMainRect);
    place(FrameControls, FrameControlsRect);
    for (std::size_t i = 0; i < Frame1.size(); ++i)
        place(Frame1[i], FrameRects[i]);
    place(Command1[1], ToggleMainRect);
    CmdBrowseFile->setFixedWidth(std::max(CmdBrowseFile->minimumWidth(), TwipsToPixels(BrowseButtonWidth)));
    place(CmdReset, ResetRect);
    place(CmdConnect, ConnectRect);
    place(CmdSend, SendRect);
    place(Command1[0], ToggleControlsRect);
    Line1->setGeometry(0, 0, TwipsToPixels(ClientWidth), 2);

    std::array<int, 6> panelWidths{};
    for (std::size_t i = 0; i < panelWidths.size(); ++i)
        panelWidths[i] = TwipsToPixels(HundredthsMmToTwips(PanelWidths[i]));
    // The panels fill the bar; its spacing and margins come out of the first.
    const int spacing = std::max(6, StatusBar1->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing));
    int used = 6 * spacing + 8 + 4;
    for (int width : panelWidths)
        used += width;
    panelWidths[0] -= std::max(0, used - TwipsToPixels(ClientWidth));
    StatusBar1->SetPanelWidths(panelWidths);
    // The bar puts its panels flush right; keep the last border off the edge.
    StatusBar1->setContentsMargins(0, 0, 3, 0);

    const int clientHeight =
        std::max(TwipsToPixels(ClientHeight),
                 TwipsToPixels(FrameControlsRect.top + FrameControlsRect.height + ClientBottomMargin) +
                     StatusBar1->sizeHint().height());
    setFixedSize(TwipsToPixels(ClientWidth), menuBar()->sizeHint().height() + clientHeight);

    QWidget *const tabOrder[] = {TargetIP,    SourceIP,       Command1[1], Facility,   Level,
                                 TxtPriority, ChkPriority,    Transport,   PortNumber, SourcePortNumber,
                                 Message,     CmdBrowseFile,  BadPackets,  NoPriority, SendHugePackets,
                                 AddCRLF,     ChkRFCMessages, SendOptions, Slider1,    CmdReset,
                                 CmdConnect,  CmdSend,        Command1[0]};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Quillon::ConnectHandlers()
{
    connect(CmdSend, &QPushButton::clicked, this, [this] { Scheduler->CmdSend_Click(); });
    connect(CmdReset, &QPushButton::clicked, this, [this] { Stats->CmdReset_Click(); });
    connect(CmdConnect, &QPushButton::clicked, this, [this] { TcpSession->CmdConnect_Click(); });
    for (std::size_t i = 0; i < Command1.size(); ++i)
        connect(Command1[i], &QToolButton::clicked, this, [this, i] { Command1_Click(static_cast<int>(i)); });

    connect(tmrSend, &WindowTimer::Timer, this, [this] { Scheduler->tmrSend_Timer(); });
    connect(Timer2, &WindowTimer::Timer, this, [this] { Scheduler->Timer2_Timer(); });
    connect(StatsUpdate, &WindowTimer::Timer, this, [this] { Stats->StatsUpdate_Timer(); });
    connect(UpdateClock, &WindowTimer::Timer, this, [this] { Stats->UpdateClock_Timer(); });

    connect(TCP1, &SocketEndpoint::CloseEvent, this, [this] { TcpSession->TCP1_Close(); });
    connect(TCP1, &SocketEndpoint::ErrorEvent, this,
            [this](int number, const QString &description) { TcpSession->TCP1_Error(number, description); });
    connect(UDP1, &SocketEndpoint::ErrorEvent, this,
            [this](int number, const QString &description) { TcpSession->UDP1_Error(number, description); });

    // Selecting an entry from code runs these as a user's choice would.
    connect(Transport, &QComboBox::currentIndexChanged, this, [this] { TcpSession->Transport_Click(); });
    connect(Facility, &QComboBox::currentIndexChanged, this, [this] { Priority->Facility_Click(); });
    connect(Level, &QComboBox::currentIndexChanged, this, [this] { Priority->Level_Click(); });
    // toggled, not stateChanged: a box cleared from inside its own handler
    // during a click would not report the change.
    connect(ChkPriority, &QCheckBox::toggled, this, [this] { Priority->ChkPriority_Click(); });
    connect(TxtPriority, &FocusLineEdit::LostFocus, this, [this] { Priority->TxtPriority_LostFocus(); });
    connect(SendOptions, &QComboBox::currentIndexChanged, this, [this] { MessageSource->SendOptions_Click(); });

    // Only a pick from the drop-down counts; typing runs nothing. The line
    // edit's own end-of-editing match would count as a pick, so it goes.
    connect(Message, &QComboBox::activated, this, [this] { MessageSource->Message_Click(); });
    if (Message->lineEdit())
        disconnect(Message->lineEdit(), &QLineEdit::editingFinished, Message, nullptr);
    connect(CmdBrowseFile, &QPushButton::clicked, this, [this] { MessageSource->CmdBrowseFile_Click(); });
    connect(Slider1, &QSlider::valueChanged, this, [this] { MessageSource->Slider1_Scroll(); });
    new MouseReleaseWatcher(Slider1, [this] { MessageSource->Slider1_MouseUp(); });

    connect(MnuExit, &QAction::triggered, this, [this] { MnuExit_Click(); });
    connect(MnuMessageFormat, &QAction::triggered, this, [this] { MnuMessageFormat_Click(); });
    connect(MnuHelpContext, &QAction::triggered, this, [this] { Help->MnuHelpContext_Click(); });
    connect(MnuHelpWebsite, &QAction::triggered, this, [this] { Help->MnuHelpWebsite_Click(); });
    connect(MnuHelpAbout, &QAction::triggered, this, [this] { Help->MnuHelpAbout_Click(); });
}

void Quillon::Form_Load()
{
    FullHeight = OuterHeightTwips();
    setWindowTitle(QStringLiteral("Wren Syslog Message Generator - Version %1.%2.%3")
                       .arg(QuillonVersion::VersionMajor)
                       .arg(QuillonVersion::VersionMinor)
                       .arg(QuillonVersion::VersionRevision));
    SmallLayout = false;
    HelpContextId = 1000;
    Stats->UpdateClock_Timer();
    Settings->LoadSettings();
}

void Quillon::Form_QueryUnload()
{
    Timer2->SetEnabled(false);
    tmrSend->SetEnabled(false);
    StatsUpdate->SetEnabled(false);
    UpdateClock->SetEnabled(false);
    Closing = true;
}

void Quillon::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    CloseUdpEndpoint(*UDP1);
    TcpSession->DisconnectTcp();
    if (State.SourceFileHandle > 0)
        Source->CloseSourceFile();
    Settings->SaveSettings();
    UnsubclassFrames(this);
}

void Quillon::MnuExit_Click()
{
    close();
}

void Quillon::MnuMessageFormat_Click()
{
    MessageFormatDialog dialog(FormatSettings, TlsOptions, *services.fileChooser, this);
    dialog.SetUdpChosen(Transport->currentIndex() == 0);
    if (dialog.exec() != QDialog::Accepted)
        return;
    FormatSettings = dialog.Format();
    TlsOptions = dialog.Tls();
}

void Quillon::closeEvent(QCloseEvent *event)
{
    // A close is never refused, also not while sending or connecting.
    Form_QueryUnload();
    Form_Unload();
    event->accept();
}

void Quillon::keyPressEvent(QKeyEvent *event)
{
    // Only Enter is handled; Shift+Ctrl+F12 and every other chord do nothing.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        if (auto *toggle = qobject_cast<QToolButton *>(focusWidget()))
            toggle->click();
        else if (CmdSend->isEnabled())
            CmdSend->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Quillon::Command1_Click(int)
{
    SmallLayout = !SmallLayout;
    ApplyWindowLayout();
}

void Quillon::ApplyWindowLayout()
{
    const QIcon &arrow = SmallLayout ? Picture1[0] : Picture1[1];
    if (SmallLayout) {
        setFixedHeight(TwipsToPixels(FullHeight - CompactHeightReduction));
        FrameMain->hide();
        FrameControls->move(FrameControls->x(), TwipsToPixels(CompactControlsTop));
    } else {
        setFixedHeight(TwipsToPixels(FullHeight));
        FrameMain->show();
        FrameControls->move(FrameControls->x(), TwipsToPixels(FrameControlsRect.top));
    }
    for (QToolButton *toggle : Command1)
        toggle->setIcon(arrow);
    if (SmallLayout)
        Command1[0]->setFocus();
}

void Quillon::DisableSettingFrames()
{
    for (std::size_t i = 0; i <= 10; ++i)
        Frame1[i]->setEnabled(false);
    // The format is taken when sending starts and TLS when connecting, so
    // the dialog waits, like the frames, until these end.
    MnuMessageFormat->setEnabled(false);
}

void Quillon::EnableSettingFrames()
{
    for (std::size_t i = 0; i <= 10; ++i)
        Frame1[i]->setEnabled(true);
    MnuMessageFormat->setEnabled(true);
}
