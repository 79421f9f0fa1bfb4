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
    // Siblings in reading order: each must fit its contents and keep clear of the rest.
    const std::vector<std::vector<const QWidget *>> rows{
        {w.Frame1.begin(), w.Frame1.end()},
        {w.Command1[1]},
        {w.CmdReset, w.CmdConnect, w.CmdSend, w.Command1[0]},
        {w.BadPackets, w.NoPriority, w.SendHugePackets, w.AddCRLF, w.ChkRFCMessages, w.ChkPriority},
        {w.FrameMain, w.FrameControls, w.StatusBar1},
    };
    std::vector<const QWidget *> all;
    for (const auto &row : rows)
        all.insert(all.end(), row.begin(), row.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const QWidget *widget = all[i];
        const std::string name = widget->objectName().toStdString();
        EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << name;
        EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << name;
        EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry())) << name;
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            if (all[j]->parentWidget() == widget->parentWidget()) {
                EXPECT_FALSE(widget->geometry().intersects(all[j]->geometry()))
                    << name << " and " << all[j]->objectName().toStdString();
            }
        }
    }
    EXPECT_LT(InWindow(w.FrameControls, &w).bottom(), InWindow(w.StatusBar1, &w).top());

    int previousRight = -1;
    for (int index = 1; index <= 6; ++index) {
        const QLabel *panel = w.StatusBar1->Panel(index);
        EXPECT_GT(panel->x(), previousRight) << "panel " << index;
        // Clear of the window's edge, so that the last border shows.
        EXPECT_LT(panel->geometry().right(), w.StatusBar1->width() - 2) << "panel " << index;
        EXPECT_GE(panel->width(), panel->sizeHint().width()) << "panel " << index;
        previousRight = panel->geometry().right();
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

TEST_F(WindowLayoutTest, TabVisitsTheControlsInOrder)
{
    // Stored so that every control of the chain is enabled.
    Store("Options", "3");
    Store("Transport", "1");
    Store("Message", "From tab delimited text file");
    Quillon &w = LoadAndShow();
    const QWidget *const order[] = {w.TargetIP,    w.SourceIP,       w.Command1[1], w.Facility,   w.Level,
                                    w.TxtPriority, w.ChkPriority,    w.Transport,   w.PortNumber, w.SourcePortNumber,
                                    w.Message,     w.CmdBrowseFile,  w.BadPackets,  w.NoPriority, w.SendHugePackets,
                                    w.AddCRLF,     w.ChkRFCMessages, w.SendOptions, w.Slider1,    w.CmdReset,
                                    w.CmdConnect,  w.CmdSend,        w.Command1[0]};
    w.TargetIP->setFocus();
    ASSERT_TRUE(WaitUntil([&w] { return w.TargetIP->hasFocus(); }));
    for (const QWidget *expected : order) {
        EXPECT_TRUE(expected->hasFocus()) << expected->objectName().toStdString();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

TEST_F(WindowLayoutTest, KeysWorkWhereverTheFocusIs)
{
    UdpReceiver receiver;
    Quillon &w = LoadAndShow();
    w.TargetIP->setEditText(QStringLiteral("127.0.0.1"));
    w.PortNumber->setEditText(QString::number(receiver.Port()));
    const auto viewerShown = [&w] {
        const QWidget *viewer = w.findChild<QWidget *>(QStringLiteral("HelpViewer"));
        return viewer && viewer->isVisible();
    };

    std::size_t sent = 0;
    for (QWidget *widget : std::initializer_list<QWidget *>{w.TxtPriority, w.Message, w.BadPackets, w.Facility}) {
        const std::string name = widget->objectName().toStdString();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        widget->setFocus();
        ASSERT_TRUE(WaitUntil([widget] { return widget->hasFocus(); })) << name;

        // Shift+Ctrl+F12 does nothing at all.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
        EXPECT_TRUE(w.isVisible() && !w.Closing && services.boxes.shown.empty()) << name;

        // Enter presses the default button.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(receiver.WaitForDatagrams(++sent)) << name;

        // F1 opens help; the test programs have the help file beside them.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        EXPECT_TRUE(WaitUntil(viewerShown)) << name;
        w.findChild<QWidget *>(QStringLiteral("HelpViewer"))->hide();
    }
    EXPECT_EQ(receiver.Datagrams().size(), sent);
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
