#include "handlers/SendScheduler.h"

#include "common/QtText.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"
#include "engine/MessageFormat.h"
#include "engine/Priority.h"
#include "handlers/PacketSender.h"
#include "handlers/SendControls.h"
#include "handlers/Statistics.h"
#include "handlers/StatusPanels.h"
#include "handlers/TargetValidationControl.h"
#include "handlers/TcpSessionControl.h"
#include "handlers/WindowTimer.h"
#include "transport/SocketEndpoint.h"
#include "transport/UdpEndpointOperations.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QThread>

#include <exception>

namespace {
const QString StopCaption = QStringLiteral("&Stop");
const QString SendCaption = QStringLiteral("&Send");

enum SendOption { Once, EverySecond, EveryMinute, Continuously, Burst100, Burst500 };
} // namespace

SendScheduler::SendScheduler(SendControls &controls) : w(controls)
{}

void SendScheduler::CmdSend_Click()
{
    if (!w.Validation->ValidateTargetAndPorts())
        return;
    // A stop needs no session: reconnecting first would leave sending running
    // whenever the target has gone away, with no way left to stop it.
    const bool stopping = w.CmdSend->text() == StopCaption;
    if (!stopping && w.Transport->currentIndex() == 1 && w.TCP1->State() != SocketEndpoint::StateConnected) {
        const QPointer<QWidget> alive(w.Window);
        w.TcpSession->CmdConnect_Click();
        if (!alive || w.Closing())
            return;
        if (w.TCP1->State() != SocketEndpoint::StateConnected)
            return;
    }

    if (stopping) {
        DisarmSendTimers();
        w.StatsUpdate->SetInterval(0);
        w.Stats->ShowFinalCount();
        w.CmdSend->setText(SendCaption);
        w.EnableSettingFrames();
        return;
    }

    SendState &state = w.State();
    const int option = w.SendOptions->currentIndex();
    w.StatsUpdate->SetInterval(1000);
    state.LastMessagesSent = state.MessagesSent;
    // Without a known option nothing is armed, and frames disabled now would
    // never be enabled again.
    if (option > Once && option <= Burst500)
        w.DisableSettingFrames();
    state.SourceAddress = TrimSpaces(ToBytes(w.SourceIP->currentText()));
    state.MessageText = ToBytes(w.Message->currentText());
    state.CorruptData = w.BadPackets->isChecked() ? 1 : 0;
    state.TargetAddress = TrimSpaces(ToBytes(w.TargetIP->currentText()));
    if (w.Transport->currentIndex() != 1)
        PrepareUdpEndpoint(*w.UDP1, ToBytes(w.PortNumber->currentText()), state.TargetAddress);
    w.Composer->UseFormat(*w.FormatSettings);

    switch (option) {
    case Once:
        w.tmrSend->SetInterval(0);
        w.tmrSend->SetEnabled(false);
        if (!SendOneMessage())
            return;
        w.EnableSettingFrames();
        w.tmrSend->SetEnabled(true);
        break;
    case EverySecond:
    case EveryMinute:
    case Continuously:
        w.tmrSend->SetInterval(0);
        w.tmrSend->SetEnabled(false);
        w.CmdSend->setText(StopCaption);
        if (!SendOneMessage())
            return;
        // A Stop, a peer close or a failure handled during the first
        // message's yield has already ended this run; arming now would leave
        // the timer ticking behind a "&Send" caption.
        if (w.CmdSend->text() != StopCaption)
            return;
        w.tmrSend->SetInterval(option == EverySecond ? 1000 : option == EveryMinute ? 60000 : w.Slider1->value());
        w.tmrSend->SetEnabled(true);
        break;
    case Burst100:
    case Burst500:
        w.Timer2->SetInterval(0);
        w.Timer2->SetEnabled(false);
        state.BurstSize = option == Burst100 ? 100 : 500;
        w.CmdSend->setText(StopCaption);
        SendBurst();
        if (w.CmdSend->text() != StopCaption)
            return;
        w.Timer2->SetInterval(10000);
        w.Timer2->SetEnabled(true);
        break;
    default:
        break;
    }
}

void SendScheduler::tmrSend_Timer()
{
    if (m_yieldLoopLevel == QThread::currentThread()->loopLevel())
        return;
    SendOneMessage();
}

void SendScheduler::Timer2_Timer()
{
    SendBurst();
}

bool SendScheduler::SendOneMessage()
{
    try {
        const ComposedMessage message = w.Composer->ComposeMessage(SendingKind::Single);
        w.State().Priority = static_cast<std::int16_t>(MessagePriority(*w.Inputs));

        const QPointer<QWidget> alive(w.Window);
        const int outerYieldLevel = m_yieldLoopLevel;
        m_yieldLoopLevel = QThread::currentThread()->loopLevel();
        QCoreApplication::processEvents();
        if (!alive)
            return false;
        m_yieldLoopLevel = outerYieldLevel;
        // The window has unloaded meanwhile: its endpoints are closed and its
        // settings saved, so this message would only reopen a socket.
        if (w.Closing())
            return false;

        w.Sender->SendComposedPacket(w.State().Priority, message.View());
    } catch (const std::exception &error) {
        ReportFailure(QString::fromLocal8Bit(error.what()));
    }
    return true;
}

void SendScheduler::SendBurst()
{
    SendState &state = w.State();
    const std::int32_t count = state.BurstSize;
    try {
        for (std::int32_t i = 0; i < count; ++i) {
            const ComposedMessage message = w.Composer->ComposeMessage(SendingKind::Burst);
            state.Priority = static_cast<std::int16_t>(MessagePriority(*w.Inputs));
            w.Sender->SendComposedPacket(state.Priority, message.View());
        }
    } catch (const std::exception &error) {
        ReportFailure(QString::fromLocal8Bit(error.what()));
        return;
    }
    w.StatusBar1->SetPanelText(2, QString::number(state.MessagesSent) + QStringLiteral(" messages sent "));
    w.StatusBar1->SetPanelText(1, QStringLiteral("Status : Messages sent OK."));
}

void SendScheduler::DisarmSendTimers()
{
    w.tmrSend->SetInterval(0);
    w.tmrSend->SetEnabled(false);
    w.Timer2->SetInterval(0);
    w.Timer2->SetEnabled(false);
}

void SendScheduler::ReportFailure(const QString &what)
{
    // Stopped before the box: a modal box does not stop the timers, and each
    // tick would fail again.
    DisarmSendTimers();
    w.StatsUpdate->SetInterval(0);
    w.Stats->ShowFinalCount();
    w.CmdSend->setText(SendCaption);
    w.EnableSettingFrames();
    if (m_reportingFailure)
        return;
    m_reportingFailure = true;
    const QPointer<QWidget> alive(w.Window);
    w.services().messageBoxes->Show(
        w.Window, MessageBoxes::Icon::Warning, QStringLiteral("Wren Quillon Error"),
        QStringLiteral("Sending stopped: the next message could not be prepared (%1).").arg(what),
        MessageBoxes::Buttons::Ok);
    if (alive)
        m_reportingFailure = false;
}
