#include "send/SendScheduler.h"
#include "send/Statistics.h"
#include "sources/SourceFile.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "window/WindowTimer.h"

#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

namespace {
TEST(Statistics, TickShowsTheCountTheRateAndTheStatus)
{
    struct Case {
        std::int32_t sent;
        std::int32_t last;
        const char *panel2;
        const char *panel3;
    };
    const Case cases[] = {
        {0, 0, "0 messages sent ", "0 MPS "},
        {1, 0, "1 message sent ", "1 MPS "},
        {2, 1, "2 messages sent ", "1 MPS "},
        {557, 500, "557 messages sent ", "57 MPS "},
        // Just after the counter wrapped the rate is the plain difference.
        {3, 999990, "3 messages sent ", "-999987 MPS "},
    };
    SendingWindow window;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.panel2);
        window->State.MessagesSent = c.sent;
        window->State.LastMessagesSent = c.last;
        window->StatusBar1->SetPanelText(1, QString());
        window->Stats->StatsUpdate_Timer();
        EXPECT_EQ(window->StatusBar1->PanelText(2), QString::fromLatin1(c.panel2));
        EXPECT_EQ(window->StatusBar1->PanelText(3), QString::fromLatin1(c.panel3));
        EXPECT_EQ(window->StatusBar1->PanelText(1), QStringLiteral("Status : Message Sent OK."));
        EXPECT_EQ(window->State.LastMessagesSent, c.sent);
    }
}

TEST(Statistics, ClockPanelsShowTimeAndEnglishDate)
{
    struct Case {
        LocalDateTime now;
        const char *time;
        const char *date;
    };
    const Case cases[] = {
        {{2026, 12, 6, 14, 3, 0, 0}, " 14:03 ", " 06-Dec-2026 "},
        {{2027, 1, 1, 9, 5, 59, 999}, " 09:05 ", " 01-Jan-2027 "},
        {{2010, 5, 31, 0, 0, 0, 0}, " 00:00 ", " 31-May-2010 "},
        {{2024, 2, 29, 23, 59, 59, 0}, " 23:59 ", " 29-Feb-2024 "},
    };
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    SendingWindow window;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.date);
        window.services.clock.now = c.now;
        window->Stats->UpdateClock_Timer();
        EXPECT_EQ(window->StatusBar1->PanelText(5), QString::fromLatin1(c.time));
        EXPECT_EQ(window->StatusBar1->PanelText(6), QString::fromLatin1(c.date));
    }
    QLocale::setDefault(previous);
}

TEST(Statistics, ResetDuringSendingCountsFromZeroWithoutStopping)
{
    UdpReceiver receiver;
    SendingWindow window;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
    window.SelectSendOption(1);
    window->Scheduler->CmdSend_Click();
    window->Scheduler->tmrSend_Timer();
    window->Scheduler->tmrSend_Timer();
    window->State.SequenceNumber = 41;
    ASSERT_EQ(window->State.MessagesSent, 3);
    window->StatusBar1->SetPanelText(3, QStringLiteral("3 MPS "));

    window->Stats->CmdReset_Click();
    EXPECT_EQ(window->StatusBar1->PanelText(2), QStringLiteral("0 messages sent "));
    EXPECT_EQ(window->StatusBar1->PanelText(3), QStringLiteral("3 MPS "));
    EXPECT_EQ(window->State.SequenceNumber, 0);
    EXPECT_EQ(window->State.LastMessagesSent, 0);
    EXPECT_TRUE(window->tmrSend->IsTicking());
    EXPECT_EQ(window->StatsUpdate->Interval(), 1000);

    window->Scheduler->tmrSend_Timer();
    window->Scheduler->tmrSend_Timer();
    window->Stats->StatsUpdate_Timer();
    EXPECT_EQ(window->StatusBar1->PanelText(2), QStringLiteral("2 messages sent "));
    EXPECT_EQ(window->StatusBar1->PanelText(3), QStringLiteral("2 MPS "));
    window->Scheduler->tmrSend_Timer();
    window->Stats->StatsUpdate_Timer();
    EXPECT_EQ(window->StatusBar1->PanelText(2), QStringLiteral("3 messages sent "));
    EXPECT_EQ(window->StatusBar1->PanelText(3), QStringLiteral("1 MPS "));
    EXPECT_TRUE(receiver.WaitForDatagrams(6));
}

TEST(Statistics, ResetStartsTheSourceFileOver)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("messages.txt"));
    {
        std::ofstream file(path.toStdString(), std::ios::binary);
        file << "a\tb\tc\tfirst line\r\n"
             << "a\tb\tc\tsecond line\r\n";
    }
    UdpReceiver receiver;
    SendingWindow window;
    window.SetTarget(QStringLiteral("127.0.0.1"), receiver.Port());
    window.SetMessage(QStringLiteral("From tab delimited text file"));
    window->State.SourceFileName = path.toStdString();

    window->Scheduler->CmdSend_Click();
    window->Scheduler->CmdSend_Click();
    EXPECT_NE(window->State.SourceFileHandle, 0);
    window->Stats->CmdReset_Click();
    EXPECT_EQ(window->State.SourceFileHandle, 0);
    window->Scheduler->CmdSend_Click();

    ASSERT_TRUE(receiver.WaitForDatagrams(3));
    const auto &datagrams = receiver.Datagrams();
    EXPECT_TRUE(datagrams[0].ends_with("first line")) << datagrams[0];
    EXPECT_TRUE(datagrams[1].ends_with("second line")) << datagrams[1];
    EXPECT_TRUE(datagrams[2].ends_with("first line")) << datagrams[2];
}
} // namespace
