#include "shell/HelpAbout.h"

#include "ModalRunner.h"
#include "shell/ClickableLabel.h"
#include "support/AnsweringServices.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

namespace {
bool ShowAndAct(HelpAbout &box, const std::function<void(HelpAbout &)> &act)
{
    return RunWhileModal([&] { box.ShowModal(); },
                         [&](QWidget *modal) {
                             EXPECT_EQ(modal, &box);
                             act(box);
                         });
}

void Close(HelpAbout &box)
{
    box.CmdOK->click();
}
} // namespace

TEST(HelpAbout, ShowsNameVersionNoticeAndLinks)
{
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    ShowAndAct(box, Close);

    EXPECT_EQ(box.windowTitle(), QStringLiteral(".: About :."));
    EXPECT_EQ(box.LblProgramName->text(), QStringLiteral("Wren Syslog Message Generator"));
    EXPECT_EQ(box.LblProgramVersion->text(), QStringLiteral("Version 2.2.0"));
    EXPECT_FALSE(box.LblLegalNotice->text().isEmpty());
    EXPECT_EQ(box.Label1_5->text(), QStringLiteral("Website: "));
    EXPECT_EQ(box.Label1_6->text(), QStringLiteral("Support:"));
    EXPECT_EQ(box.LblWebsite->text(), QStringLiteral("https://www.example.com"));
    EXPECT_EQ(box.LblWebSupport->text(), QStringLiteral("https://www.example.com/support"));
    EXPECT_EQ(box.CmdOK->text(), QStringLiteral("&OK"));
    EXPECT_TRUE(box.CmdOK->isDefault());
    EXPECT_FALSE(box.LogoImage->pixmap().isNull());

    EXPECT_TRUE(box.LblProgramName->font().bold());
    for (QWidget *normal : {static_cast<QWidget *>(box.LblProgramVersion), static_cast<QWidget *>(box.LblLegalNotice),
                            static_cast<QWidget *>(box.CmdOK)})
        EXPECT_FALSE(normal->font().bold()) << normal->objectName().toStdString();
    EXPECT_TRUE(box.LblProgramVersion->alignment() & Qt::AlignRight);

    for (ClickableLabel *link : {box.LblWebsite, box.LblWebSupport}) {
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_EQ(box.LogoImage->cursor().shape(), Qt::PointingHandCursor);
}

TEST(HelpAbout, ControlsFitTheirTextAndNeitherOverlapNorLeaveTheBox)
{
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    ShowAndAct(box, Close);

    // The design's proportions: 5445 x 3480 twips, at least 1 pixel per 15.
    EXPECT_GE(box.width(), 363);
    EXPECT_GE(box.height(), 232);
    EXPECT_NEAR(static_cast<double>(box.width()) / box.height(), 5445.0 / 3480.0, 0.02);

    const QList<QWidget *> placed = {box.LogoImage,      box.LblProgramName, box.LblProgramVersion,
                                     box.LblLegalNotice, box.FraLinks,       box.CmdOK};
    for (QWidget *control : placed)
        EXPECT_TRUE(box.rect().contains(control->geometry())) << control->objectName().toStdString();
    for (qsizetype i = 0; i < placed.size(); ++i)
        for (qsizetype j = i + 1; j < placed.size(); ++j)
            EXPECT_FALSE(placed[i]->geometry().intersects(placed[j]->geometry()))
                << placed[i]->objectName().toStdString() << " / " << placed[j]->objectName().toStdString();

    for (QLabel *label :
         {box.LblProgramName, box.LblProgramVersion, box.LblLegalNotice, box.Label1_5,
          static_cast<QLabel *>(box.LblWebsite), box.Label1_6, static_cast<QLabel *>(box.LblWebSupport)}) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
        EXPECT_LE(label->fontMetrics().height(), label->height()) << label->objectName().toStdString();
    }
    for (QWidget *inFrame : {static_cast<QWidget *>(box.Label1_5), static_cast<QWidget *>(box.LblWebsite),
                             static_cast<QWidget *>(box.Label1_6), static_cast<QWidget *>(box.LblWebSupport)})
        EXPECT_TRUE(box.FraLinks->rect().contains(inFrame->geometry())) << inFrame->objectName().toStdString();
}

TEST(HelpAbout, EnterAndEscapeClose)
{
    const struct {
        Qt::Key key;
        const char *name;
    } cases[] = {{Qt::Key_Return, "Return"}, {Qt::Key_Enter, "Enter"}, {Qt::Key_Escape, "Escape"}};
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    for (const auto &c : cases) {
        EXPECT_TRUE(ShowAndAct(box, [&](HelpAbout &b) { QTest::keyClick(KeyTarget(&b), c.key); })) << c.name;
        EXPECT_FALSE(box.isVisible()) << c.name;
    }
}

TEST(HelpAbout, EveryShowingHasTheSizeOfTheFirst)
{
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    const QSize created = box.RecordedSize();
    ShowAndAct(box, Close);
    EXPECT_EQ(box.size(), created);

    // Something changed the box's size while it was hidden; showing undoes it.
    box.setFixedSize(created / 2);
    QSize shownSize;
    ShowAndAct(box, [&](HelpAbout &b) {
        shownSize = b.size();
        Close(b);
    });
    EXPECT_EQ(shownSize, created);
    EXPECT_EQ(box.LblProgramVersion->text(), QStringLiteral("Version 2.2.0"));
}

TEST(HelpAbout, LinksAndLogoOpenTheirAddresses)
{
    const struct {
        ClickableLabel *HelpAbout::*control;
        const char *address;
    } cases[] = {
        {&HelpAbout::LblWebsite, "https://www.example.com"},
        {&HelpAbout::LblWebSupport, "https://www.example.com/support"},
        {&HelpAbout::LogoImage, "https://www.example.com"},
    };
    for (bool opens : {true, false}) {
        RecordingUrlOpener opener;
        opener.succeed = opens;
        HelpAbout box(&opener);
        for (const auto &c : cases) {
            EXPECT_TRUE(ShowAndAct(box, [&](HelpAbout &b) {
                QTest::mouseClick(b.*c.control, Qt::LeftButton);
                // A link that fails to open leaves the box as it was.
                EXPECT_TRUE(b.isVisible());
                EXPECT_EQ(QApplication::activeModalWidget(), &b);
                Close(b);
            }));
        }
        std::vector<QString> expected;
        for (const auto &c : cases)
            expected.push_back(QString::fromUtf8(c.address));
        EXPECT_EQ(opener.opened, expected) << (opens ? "opener succeeds" : "opener fails");
    }
}

TEST(HelpAbout, APressReleasedOutsideTheLinkOpensNothing)
{
    RecordingUrlOpener opener;
    HelpAbout box(&opener);
    ShowAndAct(box, [&](HelpAbout &b) {
        QTest::mousePress(b.LblWebsite, Qt::LeftButton);
        QTest::mouseRelease(b.LblWebsite, Qt::LeftButton, {}, QPoint(-5, -5));
        Close(b);
    });
    EXPECT_TRUE(opener.opened.empty());
}
