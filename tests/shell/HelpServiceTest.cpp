#include "shell/HelpService.h"

#include "ModalRunner.h"
#include "shell/ClickableLabel.h"
#include "shell/HelpAbout.h"
#include "shell/HelpViewer.h"
#include "support/AnsweringServices.h"
#include "support/TestEnvironment.h"
#include "window/FocusLineEdit.h"
#include "window/Quillon.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>

namespace {
class HelpServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<Quillon>(services.Get());
        window->Form_Load();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(WaitUntil([&] { return window->isActiveWindow(); }));
    }

    void TearDown() override
    {
        if (HelpViewer *viewer = window->Help->Viewer())
            viewer->close();
        window->close();
    }

    AnsweringServices services;
    std::unique_ptr<Quillon> window;
};
} // namespace

TEST_F(HelpServiceTest, F1FromAnyControlShowsTheMainTopicInOneViewer)
{
    QWidget *controls[] = {window->TargetIP,    window->Message,  window->TxtPriority, window->ChkPriority,
                           window->SendOptions, window->CmdReset, window->CmdSend,     window->PortNumber};
    HelpViewer *first = nullptr;
    for (QWidget *control : controls) {
        if (HelpViewer *viewer = window->Help->Viewer()) {
            viewer->hide();
            viewer->Browser->setSource(QUrl());
        }
        window->activateWindow();
        ASSERT_TRUE(WaitUntil([&] { return window->isActiveWindow(); }));
        control->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return control->hasFocus(); })) << control->objectName().toStdString();

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);

        HelpViewer *viewer = window->Help->Viewer();
        ASSERT_NE(viewer, nullptr) << control->objectName().toStdString();
        EXPECT_TRUE(viewer->isVisible()) << control->objectName().toStdString();
        EXPECT_EQ(viewer->Browser->source().fragment(), QStringLiteral("1000")) << control->objectName().toStdString();
        EXPECT_TRUE(viewer->Browser->toPlainText().contains(QStringLiteral("The main window")));
        if (!first)
            first = viewer;
        EXPECT_EQ(viewer, first);
    }
    EXPECT_TRUE(services.boxes.shown.empty());
}

TEST_F(HelpServiceTest, MissingHelpOffersTheDownloadOncePerRequest)
{
    QTemporaryDir empty;
    window->Help->ProgramFolder = empty.path();
    const struct {
        MessageBoxes::Answer answer;
        std::vector<QString> opened;
    } cases[] = {
        {MessageBoxes::Answer::No, {}},
        {MessageBoxes::Answer::Yes, {QStringLiteral("https://www.example.org/quillon/help")}},
        {MessageBoxes::Answer::No, {}},
    };
    std::size_t request = 0;
    for (const auto &c : cases) {
        services.opener.opened.clear();
        services.boxes.QueueAnswer(c.answer);
        window->MnuHelpContext->trigger();
        ++request;
        ASSERT_EQ(services.boxes.shown.size(), request);
        const auto &box = services.boxes.shown.back();
        EXPECT_EQ(box.title, QStringLiteral("Unable to view the HTML help file"));
        EXPECT_EQ(box.text, QStringLiteral("It appears that you do not have the HTML help system installed. Would you "
                                           "like to download it now?"));
        EXPECT_EQ(box.icon, MessageBoxes::Icon::Information);
        EXPECT_EQ(box.buttons, MessageBoxes::Buttons::YesNo);
        EXPECT_EQ(services.opener.opened, c.opened);
    }
    EXPECT_TRUE(window->Help->Viewer() == nullptr || !window->Help->Viewer()->isVisible());
}

TEST_F(HelpServiceTest, WebsiteMenuOpensTheHomePageAndReportsNoFailure)
{
    for (bool opens : {true, false}) {
        services.opener.opened.clear();
        services.opener.succeed = opens;
        window->MnuHelpWebsite->trigger();
        EXPECT_EQ(services.opener.opened, std::vector<QString>{QStringLiteral("https://www.example.com")});
    }
    EXPECT_TRUE(services.boxes.shown.empty());
}

TEST_F(HelpServiceTest, AboutIsOneModalBoxOverTheWindowAtLeastAsLargeAsItsScale)
{
    services.opener.succeed = false;
    std::vector<QWidget *> boxes;
    std::vector<QSize> sizes;
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
        const bool closed =
            RunWhileModal([&] { window->MnuHelpAbout->trigger(); },
                          [&](QWidget *modal) {
                              boxes.push_back(modal);
                              sizes.push_back(modal->size());
                              auto *about = qobject_cast<HelpAbout *>(modal);
                              ASSERT_NE(about, nullptr);
                              EXPECT_EQ(about->LblProgramVersion->text(), QStringLiteral("Version 2.2.0"));
                              QTest::mouseClick(about->LblWebsite, Qt::LeftButton);
                              QTest::keyClick(KeyTarget(modal), key);
                          });
        EXPECT_TRUE(closed);
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], boxes[1]);
    EXPECT_EQ(boxes[0], window->Help->AboutBox());
    EXPECT_EQ(boxes[0]->parentWidget(), window.get());
    EXPECT_EQ(sizes[0], sizes[1]);
    EXPECT_GE(sizes[0].width(), window->TwipsToPixels(5445));
    EXPECT_GE(sizes[0].height(), window->TwipsToPixels(3480));

    // The failed openings of the link were not reported.
    EXPECT_EQ(services.opener.opened.size(), 2u);
    EXPECT_TRUE(services.boxes.shown.empty());
}
