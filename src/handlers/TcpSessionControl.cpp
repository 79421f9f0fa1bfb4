#include "handlers/TcpSessionControl.h"

#include "common/Clock.h"
#include "common/QtText.h"
#include "common/TextHelpers.h"
#include "handlers/SendControls.h"
#include "handlers/Statistics.h"
#include "handlers/StatusPanels.h"
#include "handlers/TargetValidationControl.h"
#include "handlers/WindowTimer.h"
#include "transport/PortRules.h"
#include "transport/SocketEndpoint.h"
#include "transport/TlsContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
const QString ConnectCaption = QStringLiteral("Conn&ect");
const QString ConnectingCaption = QStringLiteral("Connecting...");
const QString DisconnectCaption = QStringLiteral("Disconn&ect");
const QString ErrorTitle = QStringLiteral("Wren Quillon Error");
constexpr float ConnectWaitSeconds = 10;
} // namespace

TcpSessionControl::TcpSessionControl(SendControls &controls) : w(controls)
{}

void TcpSessionControl::CmdConnect_Click()
{
    if (!w.Validation->ValidateTargetAndPorts())
        return;
    const QString caption = w.CmdConnect->text();
    if (caption == DisconnectCaption) {
        DisconnectTcp();
        return;
    }
    if (caption == ConnectingCaption) {
        // Runs nested in the waiting command, which sees the caption and ends.
        DisconnectTcp();
        w.StatusBar1->SetPanelText(1, QStringLiteral("Connection cancelled"));
        w.CmdConnect->setText(ConnectCaption);
        return;
    }
    DisconnectTcp();

    w.State().TargetAddress = TrimSpaces(ToBytes(w.TargetIP->currentText()));
    SocketEndpoint &tcp = *w.TCP1;
    tcp.SetRemoteHost(w.State().TargetAddress);
    tcp.SetRemotePort(PortFromText(ToBytes(w.PortNumber->currentText())));
    const std::string sourcePort = ToBytes(w.SourcePortNumber->currentText());
    // Back to 0 for a random port: a fixed port kept from an earlier session
    // would ignore the choice, and rebinding it right after a close can fail.
    tcp.SetLocalPort(sourcePort != RandomSourcePort ? PortFromText(sourcePort) : 0);
    const QPointer<QWidget> alive(w.Window);
    const bool tlsReady = SetUpTls();
    if (!alive)
        return;
    if (!tlsReady || !tcp.Connect()) {
        w.StatusBar1->SetPanelText(1, QStringLiteral("Connection failed"));
        return;
    }

    w.DisableSettingFrames();
    w.CmdConnect->setText(ConnectingCaption);
    w.StatusBar1->SetPanelText(1, ConnectingCaption);
    w.CmdConnect->setEnabled(true);

    const Clock &clock = *w.services().clock;
    float start = clock.SecondsSinceMidnight();
    for (;;) {
        if (!(start + ConnectWaitSeconds > clock.SecondsSinceMidnight()))
            break;
        if (clock.SecondsSinceMidnight() < start)
            start = clock.SecondsSinceMidnight();
        if (tcp.State() == SocketEndpoint::StateConnected)
            break;
        const float t = clock.SecondsSinceMidnight();
        // Capped so the first pass, in the clock's same tick, shows 10 and not 11.
        const int remaining = std::min(10, static_cast<int>(std::floor(11 - (t - start))));
        w.StatusBar1->SetPanelText(1, QStringLiteral("Connecting... (%1)").arg(remaining));
        if (w.CmdConnect->text() == ConnectCaption)
            break;
        if (!YieldForEvents() || w.Closing())
            return;
    }

    w.CmdConnect->setEnabled(true);
    w.State().LocalDisconnect = 0;
    w.EnableSettingFrames();
    if (tcp.State() == SocketEndpoint::StateConnected) {
        w.StatusBar1->SetPanelText(1, QStringLiteral("TCP Session connected"));
        w.CmdConnect->setText(DisconnectCaption);
    } else {
        // A timed-out attempt stays with the socket layer until the next disconnect.
        w.StatusBar1->SetPanelText(1, QStringLiteral("TCP Session failed to connect"));
        w.CmdConnect->setText(ConnectCaption);
    }
}

bool TcpSessionControl::SetUpTls()
{
    SocketEndpoint &tcp = *w.TCP1;
    if (!w.TlsOptions || !w.TlsOptions->enabled) {
        tcp.SetTls(nullptr);
        return true;
    }
    // Made afresh for each session, so a file the user has replaced is read.
    TlsSetupError error;
    std::shared_ptr<const TlsClientContext> context = TlsClientContext::Create(*w.TlsOptions, error);
    tcp.SetTls(context);
    if (context)
        return true;
    w.services().messageBoxes->Show(
        w.Window, MessageBoxes::Icon::Warning, ErrorTitle,
        QStringLiteral("The TLS session cannot start: %1.").arg(QString::fromStdString(error.message)),
        MessageBoxes::Buttons::Ok);
    return false;
}

void TcpSessionControl::DisconnectTcp()
{
    SocketEndpoint &tcp = *w.TCP1;
    if (tcp.State() == SocketEndpoint::StateClosed)
        return;
    w.State().LocalDisconnect = -1;
    tcp.Close();
    if (tcp.State() != SocketEndpoint::StateClosed) {
        w.StatusBar1->SetPanelText(1, QStringLiteral("TCP Session failed to disconnected"));
        w.CmdConnect->setText(DisconnectCaption);
    } else {
        w.StatusBar1->SetPanelText(1, QStringLiteral("TCP Session disconnected"));
        w.CmdConnect->setText(ConnectCaption);
    }
}

void TcpSessionControl::TCP1_Close()
{
    if (w.State().LocalDisconnect != 0) {
        w.StatusBar1->SetPanelText(1, QStringLiteral("TCP session disconnected"));
    } else {
        const QPointer<QWidget> alive(w.Window);
        PlayNamedSound(QStringLiteral("TCPDISCONNECT"));
        if (!alive)
            return;
        w.StatusBar1->SetPanelText(1, QStringLiteral("TCP session remotely disconnected"));
    }
    w.CmdConnect->setText(ConnectCaption);
    if (w.CmdSend->text() == QStringLiteral("&Stop")) {
        w.tmrSend->SetInterval(0);
        w.tmrSend->SetEnabled(false);
        w.Timer2->SetInterval(0);
        w.Timer2->SetEnabled(false);
        w.Stats->ShowFinalCount();
        w.CmdSend->setText(QStringLiteral("&Send"));
        w.EnableSettingFrames();
    }
}

void TcpSessionControl::TCP1_Error(int Number, const QString &Description)
{
    const QPointer<QWidget> alive(w.Window);
    w.services().messageBoxes->Show(w.Window, MessageBoxes::Icon::Warning, ErrorTitle,
                                    QStringLiteral("TCP error %1: %2").arg(Number).arg(Description),
                                    MessageBoxes::Buttons::Ok);
    if (!alive)
        return;
    DisconnectTcp();
    w.StatusBar1->SetPanelText(1, QStringLiteral("Connection cancelled"));
    w.CmdConnect->setText(ConnectCaption);
}

void TcpSessionControl::UDP1_Error(int Number, const QString &Description)
{
    w.services().messageBoxes->Show(w.Window, MessageBoxes::Icon::Warning, ErrorTitle,
                                    QStringLiteral("UDP error %1: %2").arg(Number).arg(Description),
                                    MessageBoxes::Buttons::Ok);
}

void TcpSessionControl::Transport_Click()
{
    if (w.Transport->currentIndex() == 1) {
        w.CmdConnect->setEnabled(true);
        w.AddCRLF->setChecked(true);
        return;
    }
    w.CmdConnect->setEnabled(false);
    if (w.TCP1->State() != SocketEndpoint::StateClosed)
        DisconnectTcp();
    w.AddCRLF->setChecked(false);
}

void TcpSessionControl::PlayNamedSound(const QString &)
{
    // No sound is supplied with the program and no audio output is linked, so
    // there is nothing to play; the yield stays, as callers expect events to
    // have run when it returns.
    QCoreApplication::processEvents();
}

bool TcpSessionControl::YieldForEvents()
{
    const QPointer<QWidget> alive(w.Window);
    // Sleeping until an event or the wake-up comes keeps the wait from
    // spinning a core for ten seconds.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(WaitPassMilliseconds);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return !alive.isNull();
}
