#include "handlers/Statistics.h"
#include "handlers/SendScheduler.h"
#include "handlers/WindowTimer.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>

namespace {
TEST(Statistics, TickShowsCountRateAndStatusUnlessNothingWasSent)
{
    const std::tuple<std::int32_t, std::int32_t, QString> cases[] = {{0, 0, "0 messages sent |0 MPS "},
                                                                     {1, 0, "1 message sent |1 MPS "},
                                                                     {557, 500, "557 messages sent |57 MPS "},
                                                                     {3, 999990, "3 messages sent |-999987 MPS "}};
    SendingWindow w;
    for (const auto &[sent, last, texts] : cases) {
        const QString news = QStringLiteral("TCP session remotely disconnected");
        w->StatusBar1->SetPanelText(1, news);
        w->State.MessagesSent = sent;
        w->State.LastMessagesSent = last;
        w->Stats->StatsUpdate_Timer();
        EXPECT_EQ(w->StatusBar1->PanelText(2) + '|' + w->StatusBar1->PanelText(3), texts);
        EXPECT_EQ(w.Status(), sent == last ? news : QStringLiteral("Status : Message Sent OK."));
        EXPECT_EQ(w->State.LastMessagesSent, sent);
    }
}

TEST(Statistics, ResetDuringSendingZeroesTheCountersAndRestartsTheSourceFile)
{
    QTemporaryDir folder;
    const std::string path = folder.filePath("messages.txt").toStdString();
    std::ofstream(path, std::ios::binary) << "a\tb\tc\tfirst\r\na\tb\tc\tsecond\r\n";
    UdpReceiver receiver;
    SendingWindow w(QStringLiteral("127.0.0.1"), receiver.Port());
    w->Message->setEditText(QStringLiteral("From tab delimited text file"));
    w->State.SourceFileName = path;
    w->SendOptions->setCurrentIndex(1);
    w->Scheduler->CmdSend_Click();
    w->Scheduler->tmrSend_Timer();
    w->Stats->StatsUpdate_Timer();
    w->State.SequenceNumber = 41;

    w->Stats->CmdReset_Click();
    EXPECT_EQ(w->StatusBar1->PanelText(2) + '|' + w->StatusBar1->PanelText(3),
              QStringLiteral("0 messages sent |0 MPS "));
    EXPECT_EQ(w->State.SequenceNumber, 0);
    w->Scheduler->tmrSend_Timer();
    w->Stats->StatsUpdate_Timer();
    EXPECT_EQ(w->StatusBar1->PanelText(2) + '|' + w->StatusBar1->PanelText(3),
              QStringLiteral("1 message sent |1 MPS "));
    ASSERT_TRUE(receiver.WaitForDatagrams(3));
    EXPECT_TRUE(receiver.Datagrams()[2].ends_with(">first")) << receiver.Datagrams()[2];
}
} // namespace
