#include "shell/HelpAbout.h"

#include "ModalRunner.h"
#include "shell/ClickableLabel.h"
#include "support/AnsweringServices.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {
bool ShowAndAct(HelpAbout &box, const std::function<void(HelpAbout &)> &act = {})
{
    return RunWhileModal([&] { box.ShowModal(); },
                         [&](QWidget *) {
                             if (act)
                                 act(box);
                             box.CmdOK->click();
                         });
}
} // namespace

TEST(HelpAbout, ShowsNameVersionNoticeAndLinksLaidOutToFit)
{
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    ASSERT_TRUE(ShowAndAct(box));

    EXPECT_EQ(box.windowTitle(), QStringLiteral(".: About :."));
    EXPECT_EQ(box.LblProgramName->text(), QStringLiteral("Wren Syslog Message Generator"));
    EXPECT_EQ(box.LblProgramVersion->text(), QStringLiteral("Version 2.2.0"));
    EXPECT_EQ(box.Label1_5->text(), QStringLiteral("Website: "));
    EXPECT_EQ(box.Label1_6->text(), QStringLiteral("Support:"));
    EXPECT_EQ(box.CmdOK->text(), QStringLiteral("&OK"));
    EXPECT_TRUE(box.CmdOK->isDefault());
    EXPECT_FALSE(box.LogoImage->pixmap().isNull());
    EXPECT_TRUE(box.LblProgramName->font().bold());
    EXPECT_FALSE(box.LblLegalNotice->font().bold());
    for (ClickableLabel *link : {box.LblWebsite, box.LblWebSupport, box.LogoImage})
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    for (ClickableLabel *link : {box.LblWebsite, box.LblWebSupport}) {
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        EXPECT_TRUE(link->font().underline());
    }

    // 5445 x 3480 twips at no less than one pixel per 15.
    EXPECT_GE(box.width(), 363);
    EXPECT_NEAR(static_cast<double>(box.width()) / box.height(), 5445.0 / 3480.0, 0.02);
    const QList<QWidget *> placed = {box.LogoImage,      box.LblProgramName, box.LblProgramVersion,
                                     box.LblLegalNotice, box.FraLinks,       box.CmdOK};
    for (qsizetype i = 0; i < placed.size(); ++i) {
        EXPECT_TRUE(box.rect().contains(placed[i]->geometry())) << placed[i]->objectName().toStdString();
        for (qsizetype j = i + 1; j < placed.size(); ++j)
            EXPECT_FALSE(placed[i]->geometry().intersects(placed[j]->geometry()))
                << placed[i]->objectName().toStdString() << " / " << placed[j]->objectName().toStdString();
    }
    for (QLabel *label : box.findChildren<QLabel *>()) {
        if (label == box.LogoImage)
            continue;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry())) << label->objectName().toStdString();
    }
}

TEST(HelpAbout, EveryShowingHasTheSizeOfTheFirst)
{
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    const QSize created = box.RecordedSize();
    ASSERT_TRUE(ShowAndAct(box));
    EXPECT_EQ(box.size(), created);

    // Something changed the size while the box was hidden; showing undoes it.
    box.setFixedSize(created / 2);
    QSize shown;
    ASSERT_TRUE(ShowAndAct(box, [&](HelpAbout &b) { shown = b.size(); }));
    EXPECT_EQ(shown, created);
}

TEST(HelpAbout, LinksAndLogoOpenTheirAddressesAndAFailureChangesNothing)
{
    const std::vector<QString> addresses = {QStringLiteral("https://www.example.com"),
                                            QStringLiteral("https://www.example.com/support"),
                                            QStringLiteral("https://www.example.com")};
    for (bool opens : {true, false}) {
        RecordingUrlOpener opener;
        opener.succeed = opens;
        HelpAbout box(&opener);
        ASSERT_TRUE(ShowAndAct(box, [&](HelpAbout &b) {
            for (ClickableLabel *link : {b.LblWebsite, b.LblWebSupport, b.LogoImage}) {
                QTest::mouseClick(link, Qt::LeftButton);
                EXPECT_EQ(QApplication::activeModalWidget(), &b);
            }
            // A press taken back by releasing outside is no click.
            QTest::mousePress(b.LblWebsite, Qt::LeftButton);
            QTest::mouseRelease(b.LblWebsite, Qt::LeftButton, {}, QPoint(-5, -5));
        }));
        EXPECT_EQ(opener.opened, addresses) << (opens ? "opener succeeds" : "opener fails");
    }
}
