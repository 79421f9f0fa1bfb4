#include "shell/HelpService.h"

#include "shell/ClickableLabel.h"
#include "shell/HelpAbout.h"
#include "shell/HelpViewer.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
struct HelpServiceTest : WindowFixture {
    void SetUp() override
    {
        WindowFixture::SetUp();
        Load(true);
    }
};

// Runs `act` on the modal box `open` shows. Should `act` leave it open, it is
// closed anyway so that the test fails instead of hanging.
bool ClosedWhileModal(const std::function<void()> &open, const std::function<void(QWidget *)> &act)
{
    // Timers die with this scope, so none fires after the references they hold.
    QObject scope;
    QTimer::singleShot(0, &scope, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            act(modal);
    });
    bool rescued = false;
    QTimer::singleShot(5000, &scope, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            rescued = modal->close();
    });
    open();
    return !rescued;
}
} // namespace

TEST_F(HelpServiceTest, F1FromAnyControlShowsTheMainTopicInOneViewerThatHandsWebLinksOn)
{
    HelpViewer *first = nullptr;
    for (QWidget *control : std::initializer_list<QWidget *>{window->TargetIP, window->Message, window->TxtPriority,
                                                             window->ChkPriority, window->CmdSend}) {
        if (HelpViewer *viewer = window->Help->Viewer()) {
            viewer->hide();
            viewer->Browser->setSource(QUrl());
        }
        window->activateWindow();
        control->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return control->hasFocus(); })) << control->objectName().toStdString();

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);

        HelpViewer *viewer = window->Help->Viewer();
        ASSERT_NE(viewer, nullptr) << control->objectName().toStdString();
        EXPECT_TRUE(viewer->isVisible()) << control->objectName().toStdString();
        EXPECT_EQ(viewer->Browser->source().fragment(), QStringLiteral("1000"));
        EXPECT_EQ(viewer, first ? first : (first = viewer));
    }
    // In the help a web address goes to the opener, failing quietly, and the topic stays; a topic link moves it.
    services.opener.succeed = false;
    emit first->Browser->anchorClicked(QUrl(QStringLiteral("https://www.example.com/page")));
    EXPECT_EQ(services.opener.opened, std::vector<QString>{QStringLiteral("https://www.example.com/page")});
    EXPECT_EQ(first->Browser->source().fragment(), QStringLiteral("1000"));
    emit first->Browser->anchorClicked(QUrl(QStringLiteral("#other")));
    EXPECT_EQ(first->Browser->source().fragment(), QStringLiteral("other"));
    EXPECT_EQ(services.opener.opened.size(), 1u);
    EXPECT_TRUE(services.boxes.shown.empty());
}

TEST_F(HelpServiceTest, EscapeOrCtrlWClosesTheHelp)
{
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        window->MnuHelpContext->trigger();
        HelpViewer *viewer = window->Help->Viewer();
        ASSERT_NE(viewer, nullptr);
        ASSERT_TRUE(WaitUntil([viewer] { return viewer->isActiveWindow(); }));
        viewer->Browser->setFocus();
        QTest::keySequence(viewer->Browser, keys);
        EXPECT_TRUE(WaitUntil([viewer] { return !viewer->isVisible(); })) << keys.toString().toStdString();
    }
}

TEST_F(HelpServiceTest, MissingHelpOffersTheDownloadOncePerRequest)
{
    QTemporaryDir empty;
    window->Help->ProgramFolder = empty.path();
    const std::pair<MessageBoxes::Answer, std::vector<QString>> cases[] = {
        {MessageBoxes::Answer::Yes, {QStringLiteral("https://www.example.org/quillon/help")}},
        {MessageBoxes::Answer::No, {}}};
    std::size_t requests = 0;
    for (const auto &[answer, opened] : cases) {
        services.opener.opened.clear();
        services.boxes.QueueAnswer(answer);
        window->MnuHelpContext->trigger();
        ASSERT_EQ(services.boxes.shown.size(), ++requests);
        EXPECT_EQ(services.boxes.shown.back().title, QStringLiteral("Unable to view the HTML help file"));
        EXPECT_EQ(services.boxes.shown.back().buttons, MessageBoxes::Buttons::YesNo);
        EXPECT_EQ(services.opener.opened, opened);
    }
}

// The About box's links and the web site menu hand their addresses to the
// opener, and a failing opener is not reported.
TEST_F(HelpServiceTest, AboutIsOneModalBoxOfOneSizeClosedByEnterOrEscapeAndLinksOpen)
{
    std::vector<QWidget *> boxes;
    std::vector<QSize> sizes;
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        services.opener.succeed = key != Qt::Key_Escape;
        EXPECT_TRUE(ClosedWhileModal(
            [&] { window->MnuHelpAbout->trigger(); },
            [&](QWidget *modal) {
                boxes.push_back(modal);
                sizes.push_back(modal->size());
                // The links open their addresses; the box stays, whatever the opener says.
                if (auto *about = qobject_cast<HelpAbout *>(modal)) {
                    for (ClickableLabel *link : {about->LblWebsite, about->LblWebSupport, about->LogoImage})
                        QTest::mouseClick(link, Qt::LeftButton);
                    EXPECT_EQ(QApplication::activeModalWidget(), modal);
                }
                QWidget *focus = QApplication::focusWidget();
                QTest::keyClick(focus && modal->isAncestorOf(focus) ? focus : modal, key);
            }))
            << key;
        // Something changed the size while the box was hidden; the next showing undoes it.
        if (HelpAbout *about = window->Help->AboutBox())
            about->setFixedSize(about->size() / 2);
    }
    ASSERT_EQ(boxes.size(), 3u);
    HelpAbout *about = window->Help->AboutBox();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i], about);
        EXPECT_EQ(sizes[i], sizes[0]);
    }
    EXPECT_EQ(about->parentWidget(), window.get());
    EXPECT_GE(sizes[0].width(), window->TwipsToPixels(5445));
    EXPECT_GE(sizes[0].height(), window->TwipsToPixels(3480));
    EXPECT_EQ(about->LblProgramName->text(), QStringLiteral("Wren Syslog Message Generator"));
    EXPECT_EQ(about->LblProgramVersion->text(), QStringLiteral("Version 2.2.0"));
    services.opener.succeed = false;
    window->MnuHelpWebsite->trigger();
    const QString home = QStringLiteral("https://www.example.com"), support = home + QStringLiteral("/support");
    EXPECT_EQ(services.opener.opened,
              std::vector<QString>({home, support, home, home, support, home, home, support, home, home}));
    EXPECT_TRUE(services.boxes.shown.empty());
}
