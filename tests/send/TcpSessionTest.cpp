#include "send/SendScheduler.h"
#include "send/Statistics.h"
#include "send/TcpSessionControl.h"
#include "send/WindowTimer.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "support/StuckListener.h"
#include "support/TestEnvironment.h"
#include "transport/SocketEndpoint.h"

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

// The wait follows the test's clock; a second click or closing the window ends
// it at once, and closing leaves the status its unload set.
TEST_F(TcpSessionTest, TheWaitCountsDownTenSecondsAgainAfterMidnightUnlessEndedEarly)
{
    ASSERT_TRUE(stuck.IsStuck());
    w->PortNumber->setEditText(QString::number(stuck.Port()));
    enum End { Waits, Click, Close };
    const QString failed = QStringLiteral("TCP Session failed to connect");
    const std::tuple<LocalDateTime, End, QStringList, QString, int> cases[] = {
        {{2026, 12, 6, 12, 0, 0, 0}, Waits, Countdown(10, 1), failed, 10},
        {{2026, 12, 6, 23, 59, 55, 0}, Waits, Countdown(10, 6) + Countdown(10, 1), failed, 10},
        {{2026, 12, 6, 12, 0, 0, 0}, Click, Countdown(10, 10) << "Connection cancelled", failed, 0},
        {{2026, 12, 6, 12, 0, 0, 0},
         Close,
         Countdown(10, 10) << "TCP Session disconnected",
         "TCP Session disconnected",
         0}};
    for (const auto &[start, end, seen, status, second] : cases) {
        w.services.clock.now = start;
        ClockDriver driver(w, 250, [&](int tick) {
            EXPECT_TRUE(w.FramesEnabled(false));
            if (tick == 3 && end != Waits) {
                end == Close ? (void)w->close() : w->CmdConnect->click();
                driver.seen.append(w.Status());
            }
        });
        Connect();
        EXPECT_EQ(driver.seen, seen);
        EXPECT_EQ(w.Status(), status);
        EXPECT_EQ(w.services.clock.now.second, second);
        EXPECT_EQ(w->TCP1->State() == SocketEndpoint::StateClosed, end != Waits);
        EXPECT_TRUE(end == Close || w.FramesEnabled(true));
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
    // The final count shows; the statistics tick runs on and leaves the news in view.
    const std::int32_t sent = w->State.MessagesSent;
    EXPECT_EQ(w->StatusBar1->PanelText(2) + '|' + w->StatusBar1->PanelText(3),
              QString::number(sent) + (sent == 1 ? " message sent |0 MPS " : " messages sent |0 MPS "));
    EXPECT_TRUE(w->StatsUpdate->IsTicking());
    w->Stats->StatsUpdate_Timer();
    EXPECT_EQ(w.Status(), QStringLiteral("TCP session remotely disconnected"));
}
} // namespace
