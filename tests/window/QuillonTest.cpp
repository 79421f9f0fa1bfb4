#include "support/WindowFixture.h"

#include "handlers/StatusPanels.h"

#include <QLabel>
#include <QToolButton>

namespace {
using QuillonTest = WindowFixture;

QRect InWindow(const QWidget *widget, const QWidget *window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

TEST_F(QuillonTest, ToggleTwiceReturnsToTheFullLayout)
{
    Quillon &w = Load(true);
    ASSERT_EQ(w.OuterHeightTwips(), w.FullHeight);
    const int twipsPerPixel = static_cast<int>(std::ceil(1 / w.PixelsPerTwip));

    QTest::mouseClick(w.Command1[1], Qt::LeftButton);
    EXPECT_NEAR(w.OuterHeightTwips(), w.FullHeight - 4440, twipsPerPixel);
    EXPECT_FALSE(w.FrameMain->isVisible());
    EXPECT_EQ(w.Command1[1]->icon().cacheKey(), w.Picture1[0].cacheKey());
    EXPECT_TRUE(WaitUntil([&w] { return w.focusWidget() == w.Command1[0]; }));
    // The buttons and the status bar still fit.
    EXPECT_LT(InWindow(w.FrameControls, &w).bottom(), InWindow(w.StatusBar1, &w).top());

    QTest::mouseClick(w.Command1[0], Qt::LeftButton);
    EXPECT_EQ(w.OuterHeightTwips(), w.FullHeight);
    EXPECT_TRUE(w.FrameMain->isVisible());
    EXPECT_EQ(w.FrameControls->y(), w.TwipsToPixels(4500));
    EXPECT_EQ(w.Command1[0]->icon().cacheKey(), w.Picture1[1].cacheKey());
}

TEST_F(QuillonTest, NothingIsClippedOrOverlaps)
{
    Quillon &w = Load(true);
    // Each must fit its contents and keep clear of its siblings.
    std::vector<const QWidget *> all{w.Frame1.begin(), w.Frame1.end()};
    all.insert(all.end(), {w.Command1[1], w.CmdReset, w.CmdConnect, w.CmdSend, w.Command1[0], w.BadPackets,
                           w.NoPriority, w.SendHugePackets, w.AddCRLF, w.ChkRFCMessages, w.ChkPriority, w.FrameMain,
                           w.FrameControls, w.StatusBar1});
    for (int panel = 1; panel <= 6; ++panel)
        all.push_back(w.StatusBar1->Panel(panel));
    for (std::size_t i = 0; i < all.size(); ++i) {
        const QWidget *widget = all[i];
        const std::string name = widget->objectName().toStdString();
        EXPECT_EQ(widget->size(), widget->size().expandedTo(widget->minimumSizeHint())) << name;
        EXPECT_TRUE(widget->parentWidget()->rect().contains(widget->geometry())) << name;
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            if (all[j]->parentWidget() == widget->parentWidget()) {
                EXPECT_FALSE(widget->geometry().intersects(all[j]->geometry()))
                    << name << " and " << all[j]->objectName().toStdString();
            }
        }
    }
    EXPECT_LT(InWindow(w.FrameControls, &w).bottom(), InWindow(w.StatusBar1, &w).top());
    // Clear of the window's edge, so that the last border shows.
    EXPECT_LT(w.StatusBar1->Panel(6)->geometry().right(), w.StatusBar1->width() - 2);
}

TEST_F(QuillonTest, SettingFramesLeaveTheDelayFrameAlone)
{
    for (const bool delayEnabled : {true, false}) {
        Store({{"Options", delayEnabled ? "3" : "0"}});
        Quillon &w = Load();
        for (const bool enable : {false, true}) {
            enable ? w.EnableSettingFrames() : w.DisableSettingFrames();
            for (std::size_t i = 0; i <= 10; ++i)
                EXPECT_EQ(w.Frame1[i]->isEnabled(), enable) << i;
            EXPECT_EQ(w.Frame1[11]->isEnabled(), delayEnabled);
            EXPECT_EQ(w.Slider1->isEnabled(), delayEnabled);
            EXPECT_TRUE(w.CmdSend->isEnabled());
            EXPECT_TRUE(w.Command1[0]->isEnabled());
            EXPECT_EQ(w.MnuMessageFormat->isEnabled(), enable);
        }
    }
}

TEST_F(QuillonTest, EnterPressesAFocusedButtonElseSendsAndShiftCtrlF12DoesNothing)
{
    UdpReceiver receiver;
    Quillon &w = Load(true);
    w.TargetIP->setEditText(QStringLiteral("127.0.0.1"));
    w.PortNumber->setEditText(QString::number(receiver.Port()));
    std::size_t sent = 0;
    for (QWidget *widget : std::initializer_list<QWidget *>{w.TxtPriority, w.Message, w.BadPackets, w.Facility}) {
        const std::string name = widget->objectName().toStdString();
        widget->setFocus();
        ASSERT_TRUE(WaitUntil([widget] { return widget->hasFocus(); })) << name;
        QTest::keyClick(widget, Qt::Key_F12, Qt::ShiftModifier | Qt::ControlModifier);
        EXPECT_TRUE(w.isVisible()) << name;
        EXPECT_FALSE(w.Closing) << name;
        EXPECT_TRUE(services.boxes.shown.empty()) << name;
        QTest::keyClick(widget, Qt::Key_Return);
        EXPECT_TRUE(receiver.WaitForDatagrams(++sent)) << name;
    }
    // "..." takes Enter itself: the chooser opens and nothing is sent.
    Pick(w.Message, 6); // a file entry, which enables it
    w.CmdBrowseFile->setFocus();
    ASSERT_TRUE(WaitUntil([&w] { return w.CmdBrowseFile->hasFocus(); }));
    QTest::keyClick(w.CmdBrowseFile, Qt::Key_Return);
    EXPECT_EQ(services.chooser.requests.size(), 1u);
    EXPECT_EQ(w.State.MessagesSent, static_cast<std::int32_t>(sent));
    // Anything the chord sent came in before the last Enter's datagram.
    EXPECT_EQ(receiver.Datagrams().size(), sent);
}
} // namespace
