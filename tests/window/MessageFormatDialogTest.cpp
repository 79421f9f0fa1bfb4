#include "support/WindowFixture.h"

#include "handlers/SendScheduler.h"
#include "support/SendingWindow.h"
#include "window/MessageFormatDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>

#include <functional>

namespace {
using MessageFormatDialogTest = WindowFixture;

// Every field as the user sees it, '|' between them, a row as [id/name/value].
QString Shown(const MessageFormatDialog &d)
{
    QStringList parts{d.FormatList->currentText(), d.HostName->text(), d.AppName->text(), d.ProcId->text(),
                      d.MsgId->text()};
    QString rows;
    for (int row = 0; row < d.SdTable->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < 3; ++column)
            cells << (d.SdTable->item(row, column) ? d.SdTable->item(row, column)->text() : QString());
        rows += '[' + cells.join('/') + ']';
    }
    parts << rows << (d.Bom->isChecked() ? "bom" : "") << d.FramingList->currentText()
          << (d.UseTls->isChecked() ? "tls" : "") << d.CaFile->text() << d.CertFile->text() << d.KeyFile->text()
          << d.ServerName->text() << (d.Verify->isChecked() ? "verify" : "insecure") << d.MinVersion->currentText();
    return parts.join('|');
}

void SetRows(MessageFormatDialog &d, const std::vector<QStringList> &rows)
{
    d.SdTable->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t row = 0; row < rows.size(); ++row)
        for (int column = 0; column < 3; ++column)
            d.SdTable->setItem(static_cast<int>(row), column, new QTableWidgetItem(rows[row].value(column)));
}

// Opens the dialog from the menu entry's key and hands it to act, which
// must close it.
void WithDialog(Quillon &w, const std::function<void(MessageFormatDialog &)> &act)
{
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<MessageFormatDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        // A dialog counts as active while its owner is; the keys need it to be.
        dialog->activateWindow();
        EXPECT_TRUE(WaitUntil([dialog] { return QApplication::activeWindow() == dialog; }));
        ran = true;
        act(*dialog);
    });
    QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(ran);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// What the store holds shows in the dialog and is saved again at exit; values
// that break their rules are the store's tests.
TEST_F(MessageFormatDialogTest, StoredSettingsShowInTheDialogAndAreSavedAgainAtExit)
{
    const QStringList full = QString(R"(MessageFormat=RFC 5424|Rfc5424HostName=h1|Rfc5424AppName=app|Rfc5424ProcId=7|)"
                                     R"(Rfc5424MsgId=ID47|Rfc5424StructuredData=[a@32473 x="q\"\]\\" y=""][b]|)"
                                     "Rfc5424Bom=1|StreamFraming=octet-count|TlsEnabled=1|TlsCaFile=/ca.pem|"
                                     "TlsCertFile=/c.pem|TlsKeyFile=/k.pem|TlsServerName=logs.example.net|"
                                     "TlsVerify=0|TlsMinVersion=1.3")
                                 .split('|');
    for (const QString &entry : full)
        Store({{entry.section('=', 0, 0), entry.section('=', 1)}});
    Quillon &w = Load(true);
    WithDialog(w, [&](MessageFormatDialog &d) {
        EXPECT_EQ(Shown(d),
                  R"(RFC 5424|h1|app|7|ID47|[a@32473/x/q"]\][a@32473/y/][b//]|bom|Octet counting|tls|/ca.pem|)"
                  "/c.pem|/k.pem|logs.example.net|insecure|TLS 1.3");
        QTest::keyClick(&d, Qt::Key_Return);
    });
    ClearStore();
    w.close();
    for (const QString &entry : full)
        EXPECT_EQ(Stored(entry.section('=', 0, 0)).toString(), entry.section('=', 1)) << entry.toStdString();
}

TEST_F(MessageFormatDialogTest, WhatIsTypedIsKeptOnEnterAndDroppedOnEscape)
{
    const auto type = [this](MessageFormatDialog &d) {
        d.FormatList->setFocus();
        QTest::keyClick(d.FormatList, Qt::Key_Down);
        QTest::keyClicks(d.HostName, "h1");
        d.MsgId->clear();
        QTest::keyClicks(d.MsgId, "ID47");
        SetRows(d, {{"x@1", "v", "a\"]"}});
        QTest::mouseClick(d.UseTls, Qt::LeftButton);
        services.chooser.QueuePath("/pki/ca.pem");
        QTest::mouseClick(d.BrowseCaFile, Qt::LeftButton);
        QTest::mouseClick(d.Verify, Qt::LeftButton);
    };
    Quillon &w = Load(true);
    w.Transport->setCurrentIndex(1);
    WithDialog(w, [&](MessageFormatDialog &d) {
        type(d);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_EQ(w.FormatSettings.format, MessageFormat::Rfc3164);
    EXPECT_FALSE(w.TlsOptions.enabled);
    // TLS brings octet counting with it; the CA file comes from the chooser.
    const QString typed =
        R"(RFC 5424|h1|Quillon||ID47|[x@1/v/a"]]||Octet counting|tls|/pki/ca.pem||||insecure|TLS 1.2)";
    WithDialog(w, [&](MessageFormatDialog &d) {
        type(d);
        EXPECT_EQ(d.VerifyNote->text(), "Verification is off: any server is accepted.");
        EXPECT_EQ(Shown(d), typed);
        // Tab visits each field in order, and the table once.
        QStringList visited;
        d.FormatList->setFocus();
        for (int i = 0; i < 22; ++i) {
            QWidget *focus = QApplication::focusWidget();
            visited << (focus->objectName().isEmpty() ? focus->property("text").toString().remove('&')
                                                      : focus->objectName());
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        EXPECT_EQ(visited.join(' ').toStdString(),
                  "FormatList HostName AppName ProcId MsgId SdTable AddSdRow RemoveSdRow Bom "
                  "FramingList UseTls CaFile BrowseCaFile CertFile BrowseCertFile KeyFile "
                  "BrowseKeyFile ServerName Verify MinVersion OK Cancel");
        QTest::keyClick(&d, Qt::Key_Return);
    });
    ASSERT_EQ(services.chooser.requests.size(), 2u);
    EXPECT_EQ(services.chooser.requests[0].title, "Choose the CA file");
    w.close();
    EXPECT_EQ(Stored("Rfc5424StructuredData").toString(), R"([x@1 v="a\"\]"])");
    EXPECT_EQ(Stored("TlsVerify").toString(), "0");
}

TEST_F(MessageFormatDialogTest, InputThatBreaksItsRulesIsRefusedWithItsMessageWhileInUse)
{
    using Edit = std::function<void(MessageFormatDialog &)>;
    const auto rfc5424 = [](const Edit &edit) {
        return [edit](MessageFormatDialog &d) {
            d.FormatList->setCurrentIndex(1);
            edit(d);
        };
    };
    const auto tls = [](const Edit &edit) {
        return [edit](MessageFormatDialog &d) {
            d.UseTls->setChecked(true);
            edit(d);
        };
    };
    const std::pair<Edit, QString> cases[] = {
        {rfc5424([](auto &d) { d.AppName->clear(); }), "APP-NAME is empty; \"-\" stands for no value"},
        {rfc5424([](auto &d) {
             SetRows(d, {{"a", "x", "1"}, {"a", "ip=x", "1"}});
         }),
         "Structured data, row 2: PARAM-NAME 'ip=x' contains '='"},
        {tls([](auto &d) { d.KeyFile->setText("/k.pem"); }), "The key /k.pem was given without its client certificate"},
        // Not in use: accepted, and the value the dialog opened with is kept.
        {[](auto &d) { d.AppName->clear(); }, ""},
        {[](auto &d) { d.ServerName->setText("logs host"); }, ""},
    };
    for (const auto &[edit, problem] : cases) {
        MessageFormatDialog d(MessageFormatSettings{}, TlsSettings{}, services.chooser, nullptr);
        d.show();
        edit(d);
        EXPECT_EQ(d.ProblemText->text(), problem);
        EXPECT_EQ(d.Buttons->button(QDialogButtonBox::Ok)->isEnabled(), problem.isEmpty()) << problem.toStdString();
        QTest::keyClick(&d, Qt::Key_Return);
        EXPECT_EQ(d.result(), problem.isEmpty() ? QDialog::Accepted : QDialog::Rejected) << problem.toStdString();
        if (problem.isEmpty()) {
            EXPECT_EQ(d.Format().appName, "Quillon");
            EXPECT_EQ(d.Tls().serverName, "");
        }
    }
}

// Over UDP the framing and TLS are out of use: disabled, saying why, and a
// TLS field that breaks its rules holds nothing up. Over TCP they are in use.
TEST_F(MessageFormatDialogTest, FramingAndTlsAreOutOfUseWhileUdpIsChosen)
{
    Quillon &w = Load(true);
    for (const int transport : {0, 1}) {
        w.Transport->setCurrentIndex(transport);
        WithDialog(w, [&](MessageFormatDialog &d) {
            const bool udp = transport == 0;
            for (QWidget *field : std::initializer_list<QWidget *>{d.FramingList, d.UseTls, d.CaFile, d.TlsGroup}) {
                EXPECT_EQ(field->isEnabled(), !udp && field != d.CaFile) << field->objectName().toStdString();
                EXPECT_EQ(field->toolTip().startsWith("\"Syslog UDP\" is chosen in the main window"), udp);
            }
            EXPECT_TRUE(d.FormatList->isEnabled());
            d.UseTls->setChecked(true);
            d.KeyFile->setText("/k.pem");
            EXPECT_EQ(d.ProblemText->text().isEmpty(), udp);
            QTest::keyClick(&d, Qt::Key_Escape);
        });
    }
}

// The dialog's plain-text values go out escaped, octet counted over TCP.
TEST(MessageFormatOnTheWire, PlainTextStructuredDataIsEscapedAndTcpIsOctetCounted)
{
    const std::string packet = "<13>1 2026-12-07T14:03:09.123000Z h1 app 7 ID47 "
                               R"([test@32473 env="lab \"a\\b\]" n="1"][origin])"
                               " \xEF\xBB\xBFtest message";
    TcpReceiver tcp;
    SendingWindow w("127.0.0.1", tcp.Port());
    w.services.clock.now = {2026, 12, 7, 14, 3, 9, 123};
    w->Transport->setCurrentIndex(1);
    w->AddCRLF->setChecked(false);
    w->Facility->setCurrentIndex(1);
    w->Level->setCurrentIndex(5);
    QTimer::singleShot(0, [] {
        auto &d = *qobject_cast<MessageFormatDialog *>(QApplication::activeModalWidget());
        d.FormatList->setCurrentIndex(1);
        d.HostName->setText("h1");
        d.AppName->setText("app");
        d.ProcId->setText("7");
        d.MsgId->setText("ID47");
        SetRows(d, {{"test@32473", "env", R"(lab "a\b])"}, {"origin"}, {"test@32473", "n", "1"}});
        d.Bom->setChecked(true);
        d.FramingList->setCurrentIndex(4);
        d.accept();
    });
    w->MnuMessageFormat->trigger();
    w->Scheduler->CmdSend_Click();
    const std::string framed = std::to_string(packet.size()) + " " + packet;
    ASSERT_TRUE(tcp.WaitForBytes(framed.size()));
    EXPECT_EQ(tcp.Bytes(), framed);
}
} // namespace
