#include "WindowFixture.h"

#include "sources/SourceFile.h"
#include "support/LoopbackReceivers.h"
#include "window/MessageSourceControls.h"
#include "window/TextEntry.h"
#include "window/WindowTimer.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>

namespace {
using MessageSourceControlsTest = WindowFixture;

constexpr int TabDelimited = 6;
constexpr int MultiLine = 4;

TEST_F(MessageSourceControlsTest, BrowseButtonFollowsTheLastPickedEntry)
{
    // File entries 6, 8 and 9 enable it; others disable it; typing changes nothing.
    const int picks[][2] = {{6, true}, {0, false}, {8, true}, {5, false}, {9, true}, {1, false}};
    Quillon &w = LoadAndShow();
    for (const auto &row : picks) {
        Pick(w.Message, row[0]);
        EXPECT_EQ(w.CmdBrowseFile->isEnabled(), bool(row[1])) << row[0];
    }
    w.Message->setFocus();
    w.Message->lineEdit()->selectAll();
    QTest::keyClicks(w.Message->lineEdit(), QStringLiteral("From tab delimited text file"));
    QTest::keyClick(w.Message->lineEdit(), Qt::Key_Tab);
    ASSERT_TRUE(WaitUntil([&w] { return !w.Message->hasFocus(); }));
    EXPECT_EQ(w.Message->currentText(), "From tab delimited text file");
    EXPECT_FALSE(w.CmdBrowseFile->isEnabled());
}

TEST_F(MessageSourceControlsTest, MultiLineDialogKeepsWhatOkStored)
{
    Quillon &w = LoadAndShow();
    Pick(w.Message, TabDelimited);
    // Each showing: what the dialog shows, then how it ends.
    const struct {
        const char *shown;
        std::function<void(TextEntry &)> end;
        const char *stored;
    } showings[] = {{"",
                     [](TextEntry &dialog) {
                         QTest::keyClicks(dialog.Text1, QStringLiteral("first line"));
                         QTest::keyClick(dialog.Text1, Qt::Key_Return);
                         QTest::keyClicks(dialog.Text1, QStringLiteral("  second line  "));
                         QTest::mouseClick(dialog.Command1, Qt::LeftButton);
                     },
                     "first line\n  second line  "},
                    {"first line\n  second line  ",
                     [](TextEntry &dialog) {
                         dialog.Text1->setPlainText(QStringLiteral("discarded"));
                         dialog.close();
                     },
                     "first line\n  second line  "},
                    {"first line\n  second line  ", [](TextEntry &dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
                     "first line\n  second line  "}};
    for (const auto &showing : showings) {
        QString shown;
        QTimer::singleShot(0, &w, [&] {
            ASSERT_TRUE(WaitUntil([&w] {
                const TextEntry *dialog = w.MessageSource->TextEntryDialog();
                return dialog && dialog->isVisible() && dialog->isModal();
            }));
            TextEntry &dialog = *w.MessageSource->TextEntryDialog();
            EXPECT_EQ(dialog.windowTitle(), "Enter Multiline Text");
            shown = dialog.Text1->toPlainText();
            dialog.Text1->setFocus();
            showing.end(dialog);
        });
        Pick(w.Message, MultiLine);
        EXPECT_EQ(shown, showing.shown);
        EXPECT_EQ(w.State.MultiLineText, showing.stored);
        EXPECT_TRUE(w.CmdBrowseFile->isEnabled()) << "kept from the file entry picked before";
    }
}

TEST_F(MessageSourceControlsTest, BrowsedFileRestartsWhenTheSourceChanges)
{
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("records.txt")).toStdString();
    std::ofstream(path, std::ios::binary) << "a\tb\tc\tfirst\r\n"
                                          << "a\tb\tc\tsecond\r\n";

    Quillon &w = LoadAndShow();
    Pick(w.Message, TabDelimited);
    services.chooser.QueuePath(QString::fromStdString(path));
    QTest::mouseClick(w.CmdBrowseFile, Qt::LeftButton);
    ASSERT_EQ(services.chooser.requests.size(), 1u);
    const FileChooserRequest &request = services.chooser.requests.front();
    EXPECT_EQ(request.title, "Please select a file to read messages from");
    EXPECT_EQ(request.initialDirectory, QCoreApplication::applicationDirPath());
    EXPECT_EQ(request.nameFilters.size(), 2);
    EXPECT_TRUE(request.fileMustExist);
    ASSERT_EQ(w.State.SourceFileName, path);

    // Cancelling the chooser keeps the name; picking another entry and back
    // the file entry does the same: either way the next record is the first.
    const std::function<void()> restarts[] = {[this, &w] {
                                                  services.chooser.QueueCancel();
                                                  QTest::mouseClick(w.CmdBrowseFile, Qt::LeftButton);
                                              },
                                              [this, &w] {
                                                  Pick(w.Message, 1);
                                                  Pick(w.Message, TabDelimited);
                                              }};
    for (const auto &restart : restarts) {
        ASSERT_EQ(w.Source->ReadSourceFileLine(), "first");
        ASSERT_EQ(w.Source->ReadSourceFileLine(), "second");
        ASSERT_GT(w.State.SourceFileHandle, 0);
        restart();
        EXPECT_EQ(w.State.SourceFileHandle, 0);
        EXPECT_EQ(w.State.SourceFileName, path);
        EXPECT_EQ(w.Source->ReadSourceFileLine(), "first");
        w.Source->CloseSourceFile();
    }
}

TEST_F(MessageSourceControlsTest, SliderPacesARunningSendOnly)
{
    UdpReceiver receiver;
    Store("Options", "3");
    Quillon &w = LoadAndShow();
    ASSERT_TRUE(w.Slider1->isEnabled());
    w.TargetIP->setEditText(QStringLiteral("127.0.0.1"));
    w.PortNumber->setEditText(QString::number(receiver.Port()));

    w.Slider1->setValue(300);
    EXPECT_EQ(w.tmrSend->Interval(), 0);

    w.CmdSend->click();
    ASSERT_EQ(w.tmrSend->Interval(), 300);
    w.Slider1->setFocus();
    QTest::keyClick(w.Slider1, Qt::Key_PageUp);
    EXPECT_EQ(w.Slider1->value(), 500);
    EXPECT_EQ(w.tmrSend->Interval(), 500);
    // Keys leave the caption; only a mouse release writes the value into it.
    EXPECT_EQ(w.Frame1[11]->title(), "Inter-&message delay (ms)");

    // The groove runs along the top; the ticks are below it.
    QTest::mouseClick(w.Slider1, Qt::LeftButton, Qt::NoModifier,
                      QPoint(w.Slider1->width() * 3 / 4, w.Slider1->height() / 4));
    EXPECT_GT(w.Slider1->value(), 500);
    EXPECT_EQ(w.tmrSend->Interval(), w.Slider1->value());
    EXPECT_EQ(w.Frame1[11]->title(), QStringLiteral("Inter-message delay (%1 ms)").arg(w.Slider1->value()));
    EXPECT_TRUE(w.Frame1[11]->isEnabled()) << "the delay stays adjustable while sending";
    w.CmdSend->click();
    EXPECT_EQ(w.tmrSend->Interval(), 0);

    Pick(w.SendOptions, 1);
    EXPECT_FALSE(w.Slider1->isEnabled());
    EXPECT_FALSE(w.Frame1[11]->isEnabled());
}
} // namespace
