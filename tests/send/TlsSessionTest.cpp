#include "send/SendScheduler.h"
#include "send/TcpSessionControl.h"
#include "support/LoopbackReceivers.h"
#include "support/SendingWindow.h"
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
