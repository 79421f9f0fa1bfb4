#include "WindowFixture.h"

namespace {
using PriorityControlsTest = WindowFixture;

TEST_F(PriorityControlsTest, PickedFacilityAndLevelShowTheirPriority)
{
    // Mail/Error, Local7/Debug, Random facility, Random level.
    const struct {
        int facility, level;
        const char *shown;
    } cases[] = {{2, 3, "19"}, {23, 7, "191"}, {24, 3, "Random"}, {1, 8, "Random"}};
    Quillon &w = Load(true);
    for (const auto &row : cases) {
        Pick(w.Facility, row.facility);
        Pick(w.Level, row.level);
        EXPECT_EQ(w.TxtPriority->text(), row.shown) << row.facility << "/" << row.level;
        if (QString::fromUtf8(row.shown) != "Random") {
            EXPECT_EQ(w.State.Priority, row.facility * 8 + row.level);
        }
    }
}

TEST_F(PriorityControlsTest, UseThisValueStaysCheckedOnlyWithAValue)
{
    const std::pair<const char *, bool> cases[] = {{"Random", false}, {"   ", false}, {"12", true}};
    Quillon &w = Load(true);
    for (const auto &[text, staysChecked] : cases) {
        w.TxtPriority->setText(QString::fromUtf8(text));
        QTest::mouseClick(w.ChkPriority, Qt::LeftButton);
        EXPECT_EQ(w.ChkPriority->isChecked(), staysChecked) << '"' << text << '"';
        EXPECT_EQ(w.Facility->isEnabled(), !staysChecked) << '"' << text << '"';
        EXPECT_EQ(w.Level->isEnabled(), !staysChecked) << '"' << text << '"';
        if (staysChecked) {
            QTest::mouseClick(w.ChkPriority, Qt::LeftButton);
            EXPECT_TRUE(w.Facility->isEnabled() && w.Level->isEnabled());
        }
    }
}

TEST_F(PriorityControlsTest, LeavingThePriorityTextLimitsIt)
{
    const char *const cases[][2] = {
        {"300", "255"}, {"-5", "0"}, {"255", "255"}, {"12.5", "12.5"}, {"Random", "Random"}};
    Quillon &w = Load(true);
    for (const auto &row : cases) {
        w.TxtPriority->setFocus();
        ASSERT_TRUE(WaitUntil([&w] { return w.TxtPriority->hasFocus(); }));
        w.TxtPriority->clear();
        QTest::keyClicks(w.TxtPriority, QString::fromUtf8(row[0]));
        QTest::keyClick(w.TxtPriority, Qt::Key_Tab);
        ASSERT_TRUE(WaitUntil([&w] { return !w.TxtPriority->hasFocus(); }));
        EXPECT_EQ(w.TxtPriority->text(), row[1]) << row[0];
    }
}
} // namespace
