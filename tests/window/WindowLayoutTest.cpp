#include "WindowFixture.h"

#include "support/LoopbackReceivers.h"
#include "window/StatusPanels.h"
#include "window/WindowTimer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

namespace {
using WindowLayoutTest = WindowFixture;

QRect InWindow(const QWidget *widget, const QWidget *window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

TEST_F(WindowLayoutTest, ToggleTwiceReturnsToTheFullLayout)
{
    Quillon &w = LoadAndShow();
    const int fullPixels = w.height();
    ASSERT_EQ(w.OuterHeightTwips(), w.FullHeight);
    const int twipsPerPixel = static_cast<int>(std::ceil(1 / w.PixelsPerTwip));

    QTest::mouseClick(w.Command1[1], Qt::LeftButton);
    EXPECT_TRUE(w.SmallLayout);
    EXPECT_NEAR(w.OuterHeightTwips(), w.FullHeight - 4440, twipsPerPixel);
    EXPECT_FALSE(w.FrameMain->isVisible());
    EXPECT_EQ(w.FrameControls->y(), w.TwipsToPixels(60));
    for (const QToolButton *toggle : w.Command1)
        EXPECT_EQ(toggle->icon().cacheKey(), w.Picture1[0].cacheKey());
    EXPECT_TRUE(WaitUntil([&w] { return w.focusWidget() == w.Command1[0]; }));
    // The buttons and the status bar still fit.
    EXPECT_LT(InWindow(w.FrameControls, &w).bottom(), InWindow(w.StatusBar1, &w).top());

    QTest::mouseClick(w.Command1[0], Qt::LeftButton);
    EXPECT_FALSE(w.SmallLayout);
    EXPECT_EQ(w.OuterHeightTwips(), w.FullHeight);
    EXPECT_EQ(w.height(), fullPixels);
    EXPECT_TRUE(w.FrameMain->isVisible());
    EXPECT_EQ(w.FrameControls->y(), w.TwipsToPixels(4500));
    for (const QToolButton *toggle : w.Command1)
        EXPECT_EQ(toggle->icon().cacheKey(), w.Picture1[1].cacheKey());
}

TEST_F(WindowLayoutTest, NothingIsClippedOrOverlaps)
{
    Quillon &w = LoadAndShow();
    std::vector<const QWidget *> settings(w.Frame1.begin(), w.Frame1.end());
    settings.push_back(w.Command1[1]);
    for (std::size_t i = 0; i < settings.size(); ++i) {
        const QRect area = InWindow(settings[i], &w);
        EXPECT_TRUE(InWindow(w.FrameMain, &w).contains(area)) << settings[i]->objectName().toStdString();
        for (std::size_t j = i + 1; j < settings.size(); ++j)
            EXPECT_FALSE(area.intersects(InWindow(settings[j], &w)))
                << settings[i]->objectName().toStdString() << " and " << settings[j]->objectName().toStdString();
    }
    for (const QGroupBox *frame : w.Frame1) {
        const QSize needed = frame->minimumSizeHint();
        EXPECT_LE(needed.width(), frame->width()) << frame->objectName().toStdString();
        EXPECT_LE(needed.height(), frame->height()) << frame->objectName().toStdString();
    }
    for (const QWidget *check :
         {static_cast<const QWidget *>(w.BadPackets), static_cast<const QWidget *>(w.NoPriority),
          static_cast<const QWidget *>(w.SendHugePackets), static_cast<const QWidget *>(w.AddCRLF),
          static_cast<const QWidget *>(w.ChkRFCMessages), static_cast<const QWidget *>(w.ChkPriority)})
        EXPECT_GE(check->width(), check->sizeHint().width()) << check->objectName().toStdString();

    const std::vector<const QWidget *> buttons{w.CmdReset, w.CmdConnect, w.CmdSend, w.Command1[0]};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_GE(buttons[i]->width(), buttons[i]->sizeHint().width()) << buttons[i]->objectName().toStdString();
        EXPECT_TRUE(w.FrameControls->geometry().contains(InWindow(buttons[i], w.FrameControls->parentWidget())));
        if (i > 0) {
            EXPECT_LT(buttons[i - 1]->geometry().right(), buttons[i]->geometry().left());
        }
    }
    EXPECT_LT(InWindow(w.FrameMain, &w).bottom(), InWindow(w.FrameControls, &w).top());
    EXPECT_LT(InWindow(w.FrameControls, &w).bottom(), InWindow(w.StatusBar1, &w).top());
    EXPECT_LE(InWindow(w.StatusBar1, &w).bottom(), w.height() - 1);

    int previousRight = -1;
    for (int index = 1; index <= 6; ++index) {
        const QLabel *panel = w.StatusBar1->Panel(index);
        const QRect area = panel->geometry();
        EXPECT_GT(area.left(), previousRight) << "panel " << index;
        // Clear of the window's edge, so that the last border shows.
        EXPECT_LT(area.right(), w.StatusBar1->width() - 2) << "panel " << index;
        EXPECT_GE(panel->width(), panel->sizeHint().width()) << "panel " << index;
        previousRight = area.right();
    }
}

TEST_F(WindowLayoutTest, SettingFramesLeaveTheDelayFrameAlone)
{
    for (const bool delayEnabled : {true, false}) {
        Store("Options", delayEnabled ? "3" : "0");
        Quillon &w = Load();
        w.DisableSettingFrames();
        for (std::size_t i = 0; i <= 10; ++i)
            EXPECT_FALSE(w.Frame1[i]->isEnabled()) << i;
        EXPECT_FALSE(w.Facility->isEnabled());
        EXPECT_EQ(w.Frame1[11]->isEnabled(), delayEnabled);
        EXPECT_EQ(w.Slider1->isEnabled(), delayEnabled);
        for (const QWidget *button : {static_cast<QWidget *>(w.CmdReset), static_cast<QWidget *>(w.CmdSend),
                                      static_cast<QWidget *>(w.Command1[0])})
            EXPECT_TRUE(button->isEnabled());

        w.EnableSettingFrames();
        for (std::size_t i = 0; i <= 10; ++i)
            EXPECT_TRUE(w.Frame1[i]->isEnabled()) << i;
        EXPECT_EQ(w.Frame1[11]->isEnabled(), delayEnabled);
        ClearStore();
    }
}

TEST_F(WindowLayoutTest, EnterSendsFromAnywhereInTheWindow)
{
    UdpReceiver receiver;
    Quillon &w = LoadAndShow();
    w.TargetIP->setEditText(QStringLiteral("127.0.0.1"));
    w.PortNumber->setEditText(QString::number(receiver.Port()));

    QWidget *const focused[] = {w.TxtPriority, w.Message, w.BadPackets, w.Facility};
    std::size_t expected = 0;
    for (QWidget *widget : focused) {
        widget->setFocus();
        ASSERT_TRUE(
            WaitUntil([&w, widget] { return w.focusWidget() == widget || widget->isAncestorOf(w.focusWidget()); }));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        ++expected;
        EXPECT_TRUE(receiver.WaitForDatagrams(expected)) << widget->objectName().toStdString();
    }
    EXPECT_EQ(receiver.Datagrams().size(), expected);
    EXPECT_EQ(w.CmdSend->text(), "&Send");
}

TEST_F(WindowLayoutTest, HelpKeyWorksWhereverTheFocusIs)
{
    Quillon &w = LoadAndShow();
    for (QWidget *widget : {static_cast<QWidget *>(w.TxtPriority), static_cast<QWidget *>(w.BadPackets),
                            static_cast<QWidget *>(w.CmdSend)}) {
        if (QWidget *viewer = w.findChild<QWidget *>(QStringLiteral("HelpViewer")))
            viewer->hide();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        widget->setFocus();
        ASSERT_TRUE(WaitUntil([widget] { return widget->hasFocus(); }));
        QTest::keyClick(widget, Qt::Key_F1);
        // The test programs have the help file beside them, so help shows it.
        EXPECT_TRUE(WaitUntil([&w] {
            const QWidget *viewer = w.findChild<QWidget *>(QStringLiteral("HelpViewer"));
            return viewer && viewer->isVisible();
        })) << widget->objectName().toStdString();
    }
    EXPECT_TRUE(services.boxes.shown.empty());
}

TEST_F(WindowLayoutTest, ShiftCtrlF12DoesNothing)
{
    Quillon &w = LoadAndShow();
    const QString priority = w.TxtPriority->text();
    w.TxtPriority->setFocus();
    QTest::keyClick(&w, Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(w.TxtPriority, Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(services.boxes.shown.empty());
    EXPECT_EQ(w.TxtPriority->text(), priority);
    EXPECT_FALSE(w.Closing);
}

TEST_F(WindowLayoutTest, ClosingWhileSendingStopsTheTimersAndSavesWhatIsShown)
{
    UdpReceiver receiver;
    Quillon &w = LoadAndShow();
    w.TargetIP->setEditText(QStringLiteral("127.0.0.1"));
    w.PortNumber->setEditText(QString::number(receiver.Port()));
    w.SendOptions->setCurrentIndex(3);
    w.Slider1->setValue(20);
    QTest::mouseClick(w.Command1[1], Qt::LeftButton);
    w.CmdSend->click();
    ASSERT_TRUE(receiver.WaitForDatagrams(3));
    ASSERT_TRUE(w.tmrSend->IsTicking());

    w.MnuExit->trigger();
    EXPECT_TRUE(w.Closing);
    EXPECT_FALSE(w.isVisible());
    for (const WindowTimer *timer : {w.tmrSend, w.Timer2, w.StatsUpdate, w.UpdateClock})
        EXPECT_FALSE(timer->IsTicking()) << timer->objectName().toStdString();
    EXPECT_EQ(Stored("Options").toString(), "3");
    EXPECT_EQ(Stored("SpeedSetting").toString(), "20");
    EXPECT_EQ(Stored("PortNumber").toString(), QString::number(receiver.Port()));

    // Unloading happens once, also when a close is asked twice.
    ClearStore();
    w.close();
    EXPECT_FALSE(Stored("Options").isValid());
}
} // namespace
