#include "support/WindowFixture.h"

#include "sources/SourceFile.h"
#include "window/TextEntry.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextCursor>
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
    Quillon &w = Load(true);
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
    Quillon &w = Load(true);
    Pick(w.Message, TabDelimited);
    // Lines typed at the end, then OK clicked, Escape, or Enter on the focused
    // OK: an edit left with Escape is gone at the next showing.
    enum End { Click, Escape, EnterOnOk };
    const std::tuple<const char *, End, const char *> showings[] = {
        {"first line\r  second  ", Click, "first line\n  second  "},
        {"discarded", Escape, "first line\n  second  "},
        {"\rthird", EnterOnOk, "first line\n  second  \nthird"}};
    QStringList shown;
    for (const auto &[typed, end, stored] : showings) {
        QTimer::singleShot(0, &w, [&] {
            ASSERT_TRUE(WaitUntil([&w] {
                const TextEntry *dialog = w.MessageSource->TextEntryDialog();
                return dialog && dialog->isVisible() && dialog->isModal();
            }));
            TextEntry &dialog = *w.MessageSource->TextEntryDialog();
            shown << dialog.Text1->toPlainText();
            dialog.Text1->setFocus();
            dialog.Text1->moveCursor(QTextCursor::End);
            QTest::keyClicks(dialog.Text1, QString::fromUtf8(typed));
            if (end == Click) {
                QTest::mouseClick(dialog.Command1, Qt::LeftButton);
            } else if (end == Escape) {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else {
                QTest::keyClick(dialog.Text1, Qt::Key_Tab);
                ASSERT_TRUE(WaitUntil([&dialog] { return dialog.Command1->hasFocus(); }));
                QTest::keyClick(dialog.Command1, Qt::Key_Return);
            }
            if (dialog.isVisible()) // left open, which the stored text shows
                dialog.reject();
        });
        Pick(w.Message, MultiLine);
        EXPECT_EQ(w.State.MultiLineText, stored) << end;
        EXPECT_TRUE(w.CmdBrowseFile->isEnabled()) << "kept from the file entry picked before";
    }
    EXPECT_EQ(shown, QStringList({"", "first line\n  second  ", "first line\n  second  "}));
}

TEST_F(MessageSourceControlsTest, BrowsedFileRestartsWhenTheSourceChanges)
{
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("records.txt")).toStdString();
    // Three records, so that a replay left running would go on with the third.
    std::ofstream(path, std::ios::binary) << "a\tb\tc\tfirst\r\na\tb\tc\tsecond\r\na\tb\tc\tthird\r\n";

    Quillon &w = Load(true);
    Pick(w.Message, TabDelimited);
    services.chooser.QueuePath(QString::fromStdString(path));
    QTest::mouseClick(w.CmdBrowseFile, Qt::LeftButton);
    ASSERT_EQ(services.chooser.requests.size(), 1u);
    EXPECT_EQ(services.chooser.requests[0].initialDirectory, QCoreApplication::applicationDirPath());
    EXPECT_TRUE(services.chooser.requests[0].fileMustExist);
    EXPECT_EQ(services.chooser.requests[0].nameFilters, QStringList({"All files (*)", "Text files (*.txt)"}));
    ASSERT_EQ(w.State.SourceFileName, path);

    // Cancelling the chooser keeps the name, and so does picking another entry
    // and the file entry again: either way the next record is the first.
    for (const bool viaChooser : {true, false}) {
        ASSERT_EQ(w.Source->ReadSourceFileLine(), "first");
        ASSERT_EQ(w.Source->ReadSourceFileLine(), "second");
        if (viaChooser) {
            services.chooser.QueueCancel();
            QTest::mouseClick(w.CmdBrowseFile, Qt::LeftButton);
        } else {
            Pick(w.Message, 1);
            Pick(w.Message, TabDelimited);
        }
        EXPECT_EQ(w.State.SourceFileName, path);
        EXPECT_EQ(w.Source->ReadSourceFileLine(), "first") << viaChooser;
        w.Source->CloseSourceFile();
    }
}

} // namespace
