#include "handlers/TcpSessionControl.h"

#include "handlers/SendScheduler.h"
#include "handlers/Statistics.h"
#include "handlers/WindowTimer.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
#include "support/StuckListener.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/TlsLoopbackServer.h"
#include "transport/SocketEndpoint.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

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

// The window's TLS session, from the Connect button to the status texts,
// against a TLS server in the test (or a plain one that never answers the
// handshake).
TEST(WindowTlsSession, ConnectsOnlyAfterAVerifiedHandshakeAndSaysOnceWhyNot)
{
    const TestCertificates &c = MadeCertificates();
    const std::string missing = c.caFile + ".missing";
    enum Server { Tls, ForeignTls, PlainTcp };
    const struct {
        Server server;
        std::string caFile;
        bool verify;
        QString status;
        QString box; // the start of the one box, or empty for none
    } cases[] = {
        {Tls, c.caFile, true, "TCP Session connected", ""},
        {ForeignTls, c.caFile, true, "TCP Session failed to connect",
         "TCP error 5425: TLS handshake failed: certificate verify failed: unable to get local issuer certificate"},
        {ForeignTls, c.caFile, false, "TCP Session connected", ""},
        {Tls, missing, true, "Connection failed",
         QString::fromStdString("The TLS session cannot start: cannot read the CA file " + missing +
                                ": No such file or directory.")},
        // A TCP connection alone is not a session: the wait runs out.
        {PlainTcp, c.caFile, true, "TCP Session failed to connect", ""},
    };
    for (const auto &row : cases) {
        TlsLoopbackServer::Options options;
        options.certFile = row.server == ForeignTls ? c.foreignCert : c.serverCert;
        options.keyFile = c.serverKey;
        TlsLoopbackServer tls(options);
        TcpReceiver plain;
        SendingWindow w("127.0.0.1", row.server == PlainTcp ? plain.Port() : tls.Port());
        w->Transport->setCurrentIndex(1);
        w->AddCRLF->setChecked(false);
        w->Facility->setCurrentIndex(1);
        w->Level->setCurrentIndex(5);
        w->FormatSettings.framing = Framing::OctetCount;
        w->TlsOptions.enabled = true;
        w->TlsOptions.caFile = row.caFile;
        w->TlsOptions.verify = row.verify;
        std::unique_ptr<ClockDriver> clock;
        if (row.server == PlainTcp)
            clock = std::make_unique<ClockDriver>(w, 250);
        // A handshake that hangs by mistake still ends the wait.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&w] { w.services.clock.AdvanceMilliseconds(20000); });
        guard.start(10000);

        w->CmdConnect->click();
        // Anything the endpoint still has to say arrives now.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const std::string name = row.status.toStdString() + " " + row.caFile;
        EXPECT_EQ(w.Status(), row.status) << name;
        const bool connected = row.status == "TCP Session connected";
        EXPECT_EQ(w->CmdConnect->text(), connected ? "Disconn&ect" : "Conn&ect") << name;
        EXPECT_EQ(w.services.boxes.shown.size(), row.box.isEmpty() ? 0u : 1u) << name;
        if (!w.services.boxes.shown.empty()) {
            EXPECT_TRUE(w.services.boxes.shown[0].text.startsWith(row.box))
                << name << ": " << w.services.boxes.shown[0].text.toStdString();
        }
        if (connected) {
            w->CmdSend->click();
            const std::string framed = "16 <13>test message";
            ASSERT_TRUE(tls.WaitForBytes(framed.size()));
            EXPECT_EQ(tls.Bytes(), framed);
            EXPECT_EQ(w->TCP1->NegotiatedTlsVersion().substr(0, 4), "TLSv");
        }
    }
}
} // namespace
