#include "send/SendScheduler.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"
#include "window/WindowTimer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSlider>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
enum Option { Once, EverySecond, EveryMinute, Continuously, Burst100, Burst500 };

bool SettingFramesEnabled(Quillon &w, bool enabled)
{
    for (int i = 0; i <= 10; ++i)
        if (w.Frame1[i]->isEnabled() != enabled)
            return false;
    return true;
}

class SendSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
        window.SetMessage(QStringLiteral("scheduler test"));
        window.SelectTransport(0);
    }
    void Start(int option)
    {
        window.SelectSendOption(option);
        window->Scheduler->CmdSend_Click();
    }

    UdpReceiver receiver;
    SendingWindow window;
};

TEST_F(SendSchedulerTest, SendOnceSendsOnePacketPerClickAndNeverDisablesTheFrames)
{
    window.SelectSendOption(Once);
    bool enabledDuringTheMessage = false;
    QTimer::singleShot(0, [&] { enabledDuringTheMessage = SettingFramesEnabled(*window, true); });

    window->Scheduler->CmdSend_Click();
    EXPECT_TRUE(enabledDuringTheMessage);
    EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Send"));
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
    EXPECT_FALSE(window->tmrSend->IsTicking());
    EXPECT_EQ(window->StatsUpdate->Interval(), 1000);
    ASSERT_TRUE(receiver.WaitForDatagrams(1));

    window->Scheduler->CmdSend_Click();
    ASSERT_TRUE(receiver.WaitForDatagrams(2));
    EXPECT_EQ(window->State.MessagesSent, 2);
    for (const std::string &datagram : receiver.Datagrams())
        EXPECT_TRUE(datagram.ends_with("scheduler test")) << datagram;
}

TEST_F(SendSchedulerTest, PeriodicOptionsSendAtOnceThenTickAtTheirInterval)
{
    struct Case {
        int option;
        int slider;
        int interval;
    };
    const Case cases[] = {{EverySecond, 10, 1000}, {EveryMinute, 10, 60000}, {Continuously, 250, 250}};
    int expected = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.option);
        window->Slider1->setValue(c.slider);
        Start(c.option);
        EXPECT_EQ(window->State.MessagesSent, ++expected);
        EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Stop"));
        EXPECT_EQ(window->tmrSend->Interval(), c.interval);
        EXPECT_TRUE(window->tmrSend->IsTicking());
        EXPECT_TRUE(SettingFramesEnabled(*window, false));
        EXPECT_EQ(window->Frame1[11]->isEnabled(), c.option == Continuously);

        window->Scheduler->tmrSend_Timer();
        EXPECT_EQ(window->State.MessagesSent, ++expected);

        window->Scheduler->CmdSend_Click();
        EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Send"));
        EXPECT_FALSE(window->tmrSend->IsTicking());
        EXPECT_EQ(window->tmrSend->Interval(), 0);
        EXPECT_EQ(window->StatsUpdate->Interval(), 0);
        EXPECT_TRUE(SettingFramesEnabled(*window, true));
        EXPECT_EQ(window->State.MessagesSent, expected);
    }
    EXPECT_TRUE(receiver.WaitForDatagrams(static_cast<std::size_t>(expected)));
}

TEST_F(SendSchedulerTest, BurstsSendTheirWholeSizeAtOnceThenEveryTenSeconds)
{
    struct Case {
        int option;
        int size;
    };
    const Case cases[] = {{Burst100, 100}, {Burst500, 500}};
    int expected = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        Start(c.option);
        expected += c.size;
        EXPECT_EQ(window->State.MessagesSent, expected);
        EXPECT_EQ(window->State.BurstSize, c.size);
        EXPECT_EQ(window->StatusBar1->PanelText(2), QString::number(expected) + QStringLiteral(" messages sent "));
        EXPECT_EQ(window->StatusBar1->PanelText(1), QStringLiteral("Status : Messages sent OK."));
        EXPECT_EQ(window->Timer2->Interval(), 10000);
        EXPECT_TRUE(window->Timer2->IsTicking());
        EXPECT_FALSE(window->tmrSend->IsTicking());

        window->Scheduler->Timer2_Timer();
        expected += c.size;
        EXPECT_EQ(window->State.MessagesSent, expected);

        window->Scheduler->CmdSend_Click();
        EXPECT_FALSE(window->Timer2->IsTicking());
        EXPECT_EQ(window->Timer2->Interval(), 0);
    }
    EXPECT_TRUE(receiver.WaitForDatagrams(static_cast<std::size_t>(expected)));
}

TEST_F(SendSchedulerTest, StopClickedDuringABurstTakesEffectAfterIt)
{
    window.SelectSendOption(Burst100);
    // The click is queued before the burst starts and can only be handled
    // when the burst hands control back.
    QMetaObject::invokeMethod(window->CmdSend, &QPushButton::click, Qt::QueuedConnection);
    window->Scheduler->CmdSend_Click();
    EXPECT_EQ(window->State.MessagesSent, 100);
    EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Stop"));

    ASSERT_TRUE(WaitUntil([&] { return window->CmdSend->text() == QStringLiteral("&Send"); }));
    EXPECT_FALSE(window->Timer2->IsTicking());
    EXPECT_EQ(window->State.MessagesSent, 100);
    EXPECT_TRUE(receiver.WaitForDatagrams(100));
}

TEST_F(SendSchedulerTest, ATickDueDuringAnEarlierTicksYieldIsSkipped)
{
    Start(EveryMinute);
    ASSERT_EQ(window->State.MessagesSent, 1);
    QTimer::singleShot(0, [&] { window->Scheduler->tmrSend_Timer(); });
    window->Scheduler->tmrSend_Timer();
    EXPECT_EQ(window->State.MessagesSent, 2);
}

TEST_F(SendSchedulerTest, AClickHandledDuringTheYieldOfASingleMessageStillSends)
{
    window.SelectSendOption(Once);
    QTimer::singleShot(0, [&] { window->Scheduler->CmdSend_Click(); });
    window->Scheduler->CmdSend_Click();
    EXPECT_EQ(window->State.MessagesSent, 2);
    EXPECT_TRUE(receiver.WaitForDatagrams(2));
}

TEST_F(SendSchedulerTest, StopDuringTheFirstMessageLeavesNoTimerArmed)
{
    window.SelectSendOption(EverySecond);
    QTimer::singleShot(0, [&] { window->Scheduler->CmdSend_Click(); });
    window->Scheduler->CmdSend_Click();
    EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Send"));
    EXPECT_FALSE(window->tmrSend->IsTicking());
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
    EXPECT_EQ(window->State.MessagesSent, 1);
}

TEST_F(SendSchedulerTest, RefusedValidationStartsNothing)
{
    window->TargetIP->setEditText(QStringLiteral("   "));
    Start(EverySecond);
    ASSERT_EQ(window.services.boxes.shown.size(), 1u);
    EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Send"));
    EXPECT_EQ(window->StatsUpdate->Interval(), 0);
    EXPECT_EQ(window->State.MessagesSent, 0);
    EXPECT_TRUE(window->State.MessageText.empty());
}

TEST_F(SendSchedulerTest, ClosingTheWindowDuringAMessagesYieldSendsNothingMore)
{
    Start(Continuously);
    ASSERT_EQ(window->State.MessagesSent, 1);
    QTimer::singleShot(0, [&] { window->close(); });
    window->Scheduler->tmrSend_Timer();
    EXPECT_TRUE(window->Closing);
    EXPECT_EQ(window->State.MessagesSent, 1);
    EXPECT_FALSE(window->tmrSend->IsTicking());
    EXPECT_FALSE(window->StatsUpdate->IsTicking());
}

TEST(SendSchedulerTcp, WithoutASessionSendConnectsFirstAndSendsOverIt)
{
    TcpReceiver receiver;
    SendingWindow window;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
    window.SetMessage(QStringLiteral("over tcp"));
    window.SelectTransport(1);
    window.SelectSendOption(Once);

    window->Scheduler->CmdSend_Click();
    EXPECT_EQ(window->TCP1->State(), SocketEndpoint::StateConnected);
    EXPECT_EQ(window->CmdConnect->text(), QStringLiteral("Disconn&ect"));
    EXPECT_EQ(window->State.MessagesSent, 1);
    ASSERT_TRUE(receiver.WaitForBytes(10));
    EXPECT_TRUE(receiver.Bytes().ends_with("over tcp\r\n")) << receiver.Bytes();
}

TEST(SendSchedulerTcp, WhenTheConnectionFailsNothingIsCapturedOrSent)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();

    SendingWindow window;
    window.SetTarget(QStringLiteral("127.0.0.1"), port);
    window.SetMessage(QStringLiteral("never sent"));
    window.SelectTransport(1);
    window.SelectSendOption(EverySecond);

    window->Scheduler->CmdSend_Click();
    ASSERT_EQ(window.services.boxes.shown.size(), 1u);
    EXPECT_TRUE(window.services.boxes.shown[0].text.startsWith(QStringLiteral("TCP error 111: ")));
    EXPECT_EQ(window->StatusBar1->PanelText(1), QStringLiteral("TCP Session failed to connect"));
    EXPECT_EQ(window->CmdSend->text(), QStringLiteral("&Send"));
    EXPECT_FALSE(window->tmrSend->IsTicking());
    EXPECT_EQ(window->StatsUpdate->Interval(), 0);
    EXPECT_TRUE(window->State.MessageText.empty());
    EXPECT_EQ(window->State.MessagesSent, 0);
    EXPECT_TRUE(SettingFramesEnabled(*window, true));
}
} // namespace
