#include "handlers/SendScheduler.h"
#include "handlers/WindowTimer.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QSlider>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace {
enum Option { Once, EverySecond, EveryMinute, Continuously, Burst100 };

struct SendSchedulerTest : ::testing::Test {
    void Start(int option)
    {
        w->SendOptions->setCurrentIndex(option);
        w->Scheduler->CmdSend_Click();
    }
    UdpReceiver receiver;
    SendingWindow w{QStringLiteral("127.0.0.1"), receiver.Port()};
};

TEST_F(SendSchedulerTest, SendOnceSendsOnePacketPerClickAlsoDuringTheYieldAndKeepsTheFrames)
{
    bool framesDuringYield = false;
    QTimer::singleShot(0, [&] {
        framesDuringYield = w.FramesEnabled(true);
        w->Scheduler->CmdSend_Click();
    });
    Start(Once);
    EXPECT_TRUE(framesDuringYield);
    EXPECT_EQ(w->CmdSend->text(), QStringLiteral("&Send"));
    EXPECT_EQ(w->State.MessagesSent, 2);
    ASSERT_TRUE(receiver.WaitForDatagrams(2));
    EXPECT_TRUE(receiver.Datagrams()[1].ends_with("test message")) << receiver.Datagrams()[1];
}

TEST_F(SendSchedulerTest, EachOptionSendsAtOnceThenArmsItsTimerUntilStop)
{
    const int cases[][3] = {
        {EverySecond, 1, 1000}, {EveryMinute, 1, 60000}, {Continuously, 1, 250}, {Burst100, 100, 10000}};
    w->Slider1->setValue(250);
    for (const auto &[option, atOnce, interval] : cases) {
        SCOPED_TRACE(option);
        w->State.MessagesSent = 0;
        Start(option);
        WindowTimer *timer = option == Burst100 ? w->Timer2 : w->tmrSend;
        EXPECT_EQ(w->State.MessagesSent, atOnce);
        EXPECT_EQ(timer->Interval(), interval);
        EXPECT_TRUE(timer->IsTicking());
        EXPECT_TRUE(w.FramesEnabled(false));
        EXPECT_EQ(w->CmdSend->text(), QStringLiteral("&Stop"));
        w->Scheduler->CmdSend_Click();
        EXPECT_FALSE(w->tmrSend->IsTicking() || w->Timer2->IsTicking());
        EXPECT_TRUE(w.FramesEnabled(true));
        // The final count shows at once, and the rate of a stopped sender.
        EXPECT_EQ(w->StatusBar1->PanelText(2) + '|' + w->StatusBar1->PanelText(3),
                  QString::number(atOnce) + (atOnce == 1 ? " message sent |0 MPS " : " messages sent |0 MPS "));
    }
    EXPECT_TRUE(receiver.WaitForDatagrams(103));
}

TEST_F(SendSchedulerTest, StopClickedDuringABurstTakesEffectAfterIt)
{
    QMetaObject::invokeMethod(w->CmdSend, &QPushButton::click, Qt::QueuedConnection);
    Start(Burst100);
    EXPECT_EQ(w->State.MessagesSent, 100);
    ASSERT_TRUE(WaitUntil([&] { return w->CmdSend->text() == QStringLiteral("&Send"); }));
    EXPECT_EQ(w->State.MessagesSent, 100);
}

TEST_F(SendSchedulerTest, WhatHappensDuringAMessagesYieldIsHonouredAfterIt)
{
    Start(EveryMinute);
    QTimer::singleShot(0, [&] { w->Scheduler->tmrSend_Timer(); });
    w->Scheduler->tmrSend_Timer();
    EXPECT_EQ(w->State.MessagesSent, 2) << "a tick nested in a tick's yield sends nothing";

    w->Scheduler->CmdSend_Click();
    QTimer::singleShot(0, [&] { w->Scheduler->CmdSend_Click(); });
    Start(EverySecond);
    EXPECT_FALSE(w->tmrSend->IsTicking()) << "a Stop during the first message leaves nothing armed";
    EXPECT_EQ(w->CmdSend->text(), QStringLiteral("&Send"));
}

// Every datagram to a port where nothing listens comes back refused: one box
// tells so, and sending goes on.
TEST(SendSchedulerUdp, RefusedDatagramsShowOneErrorBoxWhileSendingGoesOn)
{
    SendingWindow w(QStringLiteral("127.0.0.1"), ClosedUdpPort());
    w->Slider1->setValue(10);
    w->SendOptions->setCurrentIndex(Continuously);
    w->Scheduler->CmdSend_Click();
    EXPECT_TRUE(WaitUntil([&] { return w->State.MessagesSent >= 30; }));
    w->Scheduler->CmdSend_Click();
    QCoreApplication::processEvents();
    ASSERT_EQ(w.services.boxes.shown.size(), 1u);
    const AnsweringMessageBoxes::Shown &box = w.services.boxes.shown[0];
    EXPECT_EQ(box.text, QStringLiteral("UDP error 111: Connection refused"));
    EXPECT_EQ(box.icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(box.title, QStringLiteral("Wren Quillon Error"));
}

TEST(SendSchedulerTcp, SendConnectsFirstSendsNothingWhenThatFailsAndSwitchingToUdpEndsTheSession)
{
    QTcpServer refused;
    refused.listen(QHostAddress::LocalHost, 0);
    SendingWindow w(QStringLiteral("127.0.0.1"), refused.serverPort());
    refused.close();
    w->Transport->setCurrentIndex(1);
    w->SendOptions->setCurrentIndex(EverySecond);
    w->Scheduler->CmdSend_Click();
    ASSERT_EQ(w.services.boxes.shown.size(), 1u);
    EXPECT_TRUE(w.services.boxes.shown[0].text.startsWith("TCP error 111: "));
    EXPECT_EQ(w.Status(), QStringLiteral("TCP Session failed to connect"));
    EXPECT_EQ(w->CmdSend->text(), QStringLiteral("&Send"));
    EXPECT_EQ(w->State.MessagesSent, 0);
    EXPECT_TRUE(w->State.MessageText.empty());

    TcpReceiver receiver;
    w->PortNumber->setEditText(QString::number(receiver.Port()));
    w->SendOptions->setCurrentIndex(Once);
    w->Scheduler->CmdSend_Click();
    ASSERT_TRUE(receiver.WaitForBytes(14));
    EXPECT_TRUE(receiver.Bytes().ends_with("test message\r\n")) << receiver.Bytes();
    EXPECT_EQ(w->CmdConnect->text(), QStringLiteral("Disconn&ect"));

    w->Transport->setCurrentIndex(0);
    EXPECT_EQ(w->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(w.Status(), QStringLiteral("TCP Session disconnected"));
    EXPECT_EQ(w->CmdConnect->text(), QStringLiteral("Conn&ect"));
    EXPECT_FALSE(w->AddCRLF->isChecked());
    EXPECT_FALSE(w->CmdConnect->isEnabled());
}
} // namespace
