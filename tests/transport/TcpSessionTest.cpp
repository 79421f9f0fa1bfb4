#include "send/SendScheduler.h"
#include "send/Statistics.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "support/StuckListener.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"
#include "transport/TcpSessionControl.h"
#include "window/WindowTimer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {
const QString ConnectCaption = QStringLiteral("Conn&ect");
const QString DisconnectCaption = QStringLiteral("Disconn&ect");

bool SettingFramesEnabled(Quillon &w, bool enabled)
{
    for (int i = 0; i <= 10; ++i)
        if (w.Frame1[i]->isEnabled() != enabled)
            return false;
    return true;
}

quint16 RefusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QStringList Countdown(int from, int to)
{
    QStringList texts;
    for (int n = from; n >= to; --n)
        texts.append(QStringLiteral("Connecting... (%1)").arg(n));
    return texts;
}

class TcpSessionTest : public ::testing::Test {
protected:
    void SetUp() override { window.SelectTransport(1); }
    TcpSessionControl &Session() { return *window->TcpSession; }
    QString Status() { return window->StatusBar1->PanelText(1); }

    SendingWindow window;
};

TEST_F(TcpSessionTest, ConnectThenDisconnect)
{
    TcpReceiver receiver;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());

    Session().CmdConnect_Click();
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateConnected);
    EXPECT_EQ(Status(), QStringLiteral("TCP Session connected"));
    EXPECT_EQ(window->CmdConnect->text(), DisconnectCaption);
    EXPECT_EQ(window->State.TargetAddress, "127.0.0.1");
    EXPECT_EQ(window->State.LocalDisconnect, 0);
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
    EXPECT_TRUE(receiver.WaitForConnection());

    Session().CmdConnect_Click();
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(Status(), QStringLiteral("TCP Session disconnected"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
    EXPECT_EQ(window->State.LocalDisconnect, -1);
}

TEST_F(TcpSessionTest, RefusedConnectionShowsTheErrorAndFailsToConnect)
{
    window.SetTarget(QStringLiteral("127.0.0.1"), RefusedPort());
    Session().CmdConnect_Click();

    ASSERT_EQ(window.services.boxes.shown.size(), 1u);
    const auto &box = window.services.boxes.shown[0];
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("TCP error 111: "))) << box.text.toStdString();
    EXPECT_GT(box.text.size(), QStringLiteral("TCP error 111: ").size());
    EXPECT_EQ(box.title, QStringLiteral("Wren Quillon Error"));
    EXPECT_EQ(box.icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(Status(), QStringLiteral("TCP Session failed to connect"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
}

TEST_F(TcpSessionTest, AnAttemptThatCannotStartFailsAtOnce)
{
    // The source port is held by a listener, so the endpoint cannot bind it.
    TcpReceiver receiver;
    TcpReceiver holder;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
    window.SetSourcePort(QString::number(holder.Port()));

    Session().CmdConnect_Click();
    EXPECT_EQ(Status(), QStringLiteral("Connection failed"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
    EXPECT_TRUE(window.services.boxes.shown.empty());
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
}

TEST_F(TcpSessionTest, TheWaitCountsDownTenSecondsOfTheClock)
{
    StuckListener listener;
    ASSERT_TRUE(listener.IsStuck());
    window.SetTarget(QString::fromLatin1(listener.Host()), listener.Port());
    window.services.clock.now = {2026, 12, 6, 12, 0, 0, 0};
    bool framesDisabled = true;
    ClockDriver driver(window, 250);
    driver.onTick = [&] { framesDisabled = framesDisabled && SettingFramesEnabled(*window, false); };

    Session().CmdConnect_Click();
    driver.Stop();
    EXPECT_EQ(driver.seen, Countdown(10, 1));
    EXPECT_TRUE(framesDisabled);
    EXPECT_EQ(window.services.clock.now.second, 10);
    EXPECT_EQ(Status(), QStringLiteral("TCP Session failed to connect"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
    // The attempt is left pending until the next disconnect closes it.
    EXPECT_NE(window->TCP1->State(), SocketEndpoint::StateClosed);
    Session().DisconnectTcp();
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateClosed);
}

TEST_F(TcpSessionTest, AWaitAcrossMidnightStartsItsTenSecondsAgain)
{
    StuckListener listener;
    ASSERT_TRUE(listener.IsStuck());
    window.SetTarget(QString::fromLatin1(listener.Host()), listener.Port());
    window.services.clock.now = {2026, 12, 6, 23, 59, 55, 0};
    ClockDriver driver(window, 250);

    Session().CmdConnect_Click();
    driver.Stop();
    EXPECT_EQ(driver.seen, Countdown(10, 6) + Countdown(10, 1));
    EXPECT_EQ(window.services.clock.now.hour, 0);
    EXPECT_EQ(window.services.clock.now.second, 10);
    EXPECT_EQ(Status(), QStringLiteral("TCP Session failed to connect"));
}

TEST_F(TcpSessionTest, ASecondClickCancelsTheWait)
{
    StuckListener listener;
    ASSERT_TRUE(listener.IsStuck());
    window.SetTarget(QString::fromLatin1(listener.Host()), listener.Port());
    ClockDriver driver(window, 0);
    int ticks = 0;
    QString statusAfterCancel;
    driver.onTick = [&] {
        if (++ticks > 500)
            window.services.clock.AdvanceMilliseconds(20000); // ends a wait the click failed to cancel
        if (ticks != 3)
            return;
        EXPECT_EQ(window->CmdConnect->text(), QStringLiteral("Connecting..."));
        EXPECT_TRUE(window->CmdConnect->isEnabled());
        window->CmdConnect->click();
        statusAfterCancel = Status();
    };

    Session().CmdConnect_Click();
    driver.Stop();
    EXPECT_EQ(statusAfterCancel, QStringLiteral("Connection cancelled"));
    EXPECT_EQ(Status(), QStringLiteral("TCP Session failed to connect"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(window->State.LocalDisconnect, 0);
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
}

TEST_F(TcpSessionTest, ClosingTheWindowEndsTheWaitAtOnce)
{
    StuckListener listener;
    ASSERT_TRUE(listener.IsStuck());
    window.SetTarget(QString::fromLatin1(listener.Host()), listener.Port());
    ClockDriver driver(window, 0);
    int ticks = 0;
    driver.onTick = [&] {
        if (++ticks == 3)
            window->close();
        if (ticks > 500)
            window.services.clock.AdvanceMilliseconds(20000);
    };

    Session().CmdConnect_Click();
    driver.Stop();
    EXPECT_TRUE(window->Closing);
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_NE(Status(), QStringLiteral("TCP Session failed to connect"));
    EXPECT_NE(Status(), QStringLiteral("TCP Session connected"));
}

TEST_F(TcpSessionTest, ARandomSourcePortAfterAFixedOneLetsTheSystemChoose)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    window.SetTarget(QStringLiteral("127.0.0.1"), server.serverPort());
    const quint16 fixed = RefusedPort();
    window.SetSourcePort(QString::number(fixed));

    auto peerPort = [&]() -> int {
        if (!WaitUntil([&] { return server.hasPendingConnections(); }))
            return -1;
        QTcpSocket *peer = server.nextPendingConnection();
        const int port = peer->peerPort();
        delete peer;
        return port;
    };

    Session().CmdConnect_Click();
    ASSERT_EQ(window->TCP1->State(), SocketEndpoint::StateConnected);
    EXPECT_EQ(peerPort(), fixed);
    Session().DisconnectTcp();

    window.SetSourcePort(QStringLiteral("Random port > 1023"));
    Session().CmdConnect_Click();
    ASSERT_EQ(window->TCP1->State(), SocketEndpoint::StateConnected);
    const int chosen = peerPort();
    EXPECT_GT(chosen, 0);
    EXPECT_NE(chosen, fixed);
}

TEST_F(TcpSessionTest, ThePeerClosingWhileSendingStopsSending)
{
    TcpReceiver receiver;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
    window.SelectSendOption(1);
    window->Scheduler->CmdSend_Click();
    ASSERT_EQ(window->CmdSend->text(), QStringLiteral("&Stop"));
    // Everything sent is read first, so the close is a plain one and not a reset.
    ASSERT_TRUE(WaitUntil([&] { return receiver.Bytes().ends_with("\r\n"); }));

    receiver.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return window->CmdSend->text() == QStringLiteral("&Send"); }))
        << Status().toStdString();
    EXPECT_EQ(Status(), QStringLiteral("TCP session remotely disconnected"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
    EXPECT_FALSE(window->tmrSend->IsTicking());
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
    // The statistics go on until sending is started or stopped again.
    EXPECT_EQ(window->StatsUpdate->Interval(), 1000);
    window->Stats->StatsUpdate_Timer();
    EXPECT_EQ(Status(), QStringLiteral("Status : Message Sent OK."));
    // Not closed by the handler: the next connect closes it first.
    EXPECT_NE(window->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_NE(window->TCP1->State(), SocketEndpoint::StateConnected);
}

TEST_F(TcpSessionTest, ACloseAfterTheProgramsOwnDisconnectSaysSo)
{
    window->State.LocalDisconnect = -1;
    Session().TCP1_Close();
    EXPECT_EQ(Status(), QStringLiteral("TCP session disconnected"));
    EXPECT_EQ(window->CmdConnect->text(), ConnectCaption);
}

TEST_F(TcpSessionTest, SwitchingTransportSetsCrLfAndClosesTheSession)
{
    TcpReceiver receiver;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
    EXPECT_TRUE(window->AddCRLF->isChecked());
    EXPECT_TRUE(window->CmdConnect->isEnabled());
    Session().CmdConnect_Click();
    ASSERT_EQ(window->TCP1->State(), SocketEndpoint::StateConnected);

    window.SelectTransport(0);
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(Status(), QStringLiteral("TCP Session disconnected"));
    EXPECT_FALSE(window->AddCRLF->isChecked());
    EXPECT_FALSE(window->CmdConnect->isEnabled());

    window.SelectTransport(1);
    EXPECT_TRUE(window->AddCRLF->isChecked());
    EXPECT_TRUE(window->CmdConnect->isEnabled());
}

TEST(UdpErrors, AnErrorIsShownAndSendingGoesOn)
{
    SendingWindow window;
    window.SetTarget(QStringLiteral("nohost.invalid"), 514);
    window.SelectSendOption(1);
    window->Scheduler->CmdSend_Click();
    ASSERT_TRUE(WaitUntil([&] { return !window.services.boxes.shown.empty(); }));
    const auto &box = window.services.boxes.shown[0];
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("UDP error "))) << box.text.toStdString();
    EXPECT_EQ(box.title, QStringLiteral("Wren Quillon Error"));
    EXPECT_EQ(box.icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Stop"));
    EXPECT_TRUE(window->tmrSend->IsTicking());
}
} // namespace
