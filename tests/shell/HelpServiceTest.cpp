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
    EXPECT_TRUE(services.boxes.shown.empty());
}

TEST_F(HelpServiceTest, MissingHelpOffersTheDownloadOncePerRequest)
{
    QTemporaryDir empty;
    window->Help->ProgramFolder = empty.path();
    const std::pair<MessageBoxes::Answer, std::vector<QString>> cases[] = {
        {MessageBoxes::Answer::No, {}},
        {MessageBoxes::Answer::Yes, {QStringLiteral("https://www.example.org/quillon/help")}},
        {MessageBoxes::Answer::No, {}},
    };
    std::size_t requests = 0;
    for (const auto &[answer, opened] : cases) {
        services.opener.opened.clear();
        services.boxes.QueueAnswer(answer);
        window->MnuHelpContext->trigger();
        ASSERT_EQ(services.boxes.shown.size(), ++requests);
        const auto &box = services.boxes.shown.back();
        EXPECT_EQ(box.title, QStringLiteral("Unable to view the HTML help file"));
        EXPECT_EQ(box.text, QStringLiteral("It appears that you do not have the HTML help system installed. Would you "
                                           "like to download it now?"));
        EXPECT_EQ(box.icon, MessageBoxes::Icon::Information);
        EXPECT_EQ(box.buttons, MessageBoxes::Buttons::YesNo);
        EXPECT_EQ(services.opener.opened, opened);
    }
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

TEST_F(HelpServiceTest, AboutIsOneModalBoxOverTheWindowClosedByEnterOrEscape)
{
    services.opener.succeed = false;
    std::vector<QWidget *> boxes;
    std::vector<QSize> sizes;
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        EXPECT_TRUE(RunWhileModal([&] { window->MnuHelpAbout->trigger(); },
                                  [&](QWidget *modal) {
                                      boxes.push_back(modal);
                                      sizes.push_back(modal->size());
                                      if (auto *about = qobject_cast<HelpAbout *>(modal))
                                          QTest::mouseClick(about->LblWebsite, Qt::LeftButton);
                                      QWidget *focus = QApplication::focusWidget();
                                      QTest::keyClick(focus && modal->isAncestorOf(focus) ? focus : modal, key);
                                  }))
            << key;
    }
    ASSERT_EQ(boxes.size(), 3u);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i], window->Help->AboutBox());
        EXPECT_EQ(sizes[i], sizes[0]);
    }
    EXPECT_EQ(boxes[0]->parentWidget(), window.get());
    EXPECT_GE(sizes[0].width(), window->TwipsToPixels(5445));
    EXPECT_GE(sizes[0].height(), window->TwipsToPixels(3480));
    // The link failed to open each time, and nothing said so.
    EXPECT_EQ(services.opener.opened.size(), 3u);
    EXPECT_TRUE(services.boxes.shown.empty());
}
