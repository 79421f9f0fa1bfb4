#include "send/SendScheduler.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "support/StuckListener.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"
#include "transport/TcpSessionControl.h"
#include "window/WindowTimer.h"

#include <QPushButton>
#include <gtest/gtest.h>

namespace {
QStringList Countdown(int from, int to)
{
    QStringList texts;
    for (int n = from; n >= to; --n)
        texts.append(QStringLiteral("Connecting... (%1)").arg(n));
    return texts;
}

struct TcpSessionTest : ::testing::Test {
    TcpSessionTest() { w->Transport->setCurrentIndex(1); }
    void Connect() { w->TcpSession->CmdConnect_Click(); }
    TcpReceiver receiver;
    StuckListener stuck;
    SendingWindow w{QStringLiteral("127.0.0.1"), receiver.Port()};
};

TEST_F(TcpSessionTest, ConnectThenSwitchingToUdpEndsTheSessionAndClearsCrLf)
{
    EXPECT_TRUE(w->AddCRLF->isChecked());
    Connect();
    EXPECT_EQ(w.Status(), QStringLiteral("TCP Session connected"));
    EXPECT_EQ(w->CmdConnect->text(), QStringLiteral("Disconn&ect"));
    EXPECT_TRUE(receiver.WaitForConnection());

    w->Transport->setCurrentIndex(0);
    EXPECT_EQ(w->TCP1->State(), SocketEndpoint::StateClosed);
    EXPECT_EQ(w.Status(), QStringLiteral("TCP Session disconnected"));
    EXPECT_EQ(w->CmdConnect->text(), QStringLiteral("Conn&ect"));
    EXPECT_FALSE(w->AddCRLF->isChecked());
    EXPECT_FALSE(w->CmdConnect->isEnabled());
}

TEST_F(TcpSessionTest, TheWaitCountsDownTenSecondsAndStartsAgainAtMidnight)
{
    ASSERT_TRUE(stuck.IsStuck());
    w->PortNumber->setEditText(QString::number(stuck.Port()));
    const std::pair<LocalDateTime, QStringList> cases[] = {
        {{2026, 12, 6, 12, 0, 0, 0}, Countdown(10, 1)},
        {{2026, 12, 6, 23, 59, 55, 0}, Countdown(10, 6) + Countdown(10, 1)}};
    for (const auto &[start, expected] : cases) {
        w.services.clock.now = start;
        ClockDriver driver(w, 250, [&](int) { EXPECT_TRUE(w.FramesEnabled(false)); });
        Connect();
        EXPECT_EQ(driver.seen, expected);
        EXPECT_EQ(w.services.clock.now.second, 10);
        EXPECT_EQ(w.Status(), QStringLiteral("TCP Session failed to connect"));
        EXPECT_TRUE(w.FramesEnabled(true));
    }
}

// Closing the window leaves the status its unload set.
TEST_F(TcpSessionTest, ASecondClickOrClosingTheWindowEndsTheWaitAtOnce)
{
    ASSERT_TRUE(stuck.IsStuck());
    w->PortNumber->setEditText(QString::number(stuck.Port()));
    for (const bool close : {false, true}) {
        QString afterTick;
        ClockDriver driver(w, 0, [&](int tick) {
            if (tick == 3) {
                close ? (void)w->close() : w->CmdConnect->click();
                afterTick = w.Status();
            }
        });
        Connect();
        EXPECT_EQ(afterTick,
                  close ? QStringLiteral("TCP Session disconnected") : QStringLiteral("Connection cancelled"));
        EXPECT_EQ(w.Status(), close ? afterTick : QStringLiteral("TCP Session failed to connect"));
        EXPECT_EQ(w->TCP1->State(), SocketEndpoint::StateClosed);
        EXPECT_EQ(w.services.clock.now.second, 0);
    }
}

TEST_F(TcpSessionTest, ThePeerClosingWhileSendingStopsSending)
{
    w->SendOptions->setCurrentIndex(1);
    w->Scheduler->CmdSend_Click();
    // All that was sent is read first, so the peer's close is not a reset.
    ASSERT_TRUE(WaitUntil([&] { return receiver.Bytes().ends_with("\r\n"); }));
    receiver.CloseConnection();
    ASSERT_TRUE(WaitUntil([&] { return w->CmdSend->text() == QStringLiteral("&Send"); })) << w.Status().toStdString();
    EXPECT_EQ(w.Status(), QStringLiteral("TCP session remotely disconnected"));
    EXPECT_EQ(w->CmdConnect->text(), QStringLiteral("Conn&ect"));
    EXPECT_FALSE(w->tmrSend->IsTicking());
    EXPECT_TRUE(w.FramesEnabled(true));
}
} // namespace
