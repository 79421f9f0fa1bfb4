#include "WindowFixture.h"

#include <QCheckBox>

namespace {
using PriorityControlsTest = WindowFixture;

TEST_F(PriorityControlsTest, PickedFacilityAndLevelShowTheirPriority)
{
    const struct {
        int facility;
        int level;
        const char *shown;
    } cases[] = {
        {2, 3, "19"},      // Mail, Error
        {23, 7, "191"},    // Local7, Debug
        {0, 0, "0"},       // Kernel, Emergency
        {24, 3, "Random"}, // Random facility
        {1, 8, "Random"},  // Random level
    };
    Quillon &w = LoadAndShow();
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
    const struct {
        const char *text;
        bool staysChecked;
    } cases[] = {{"Random", false}, {"   ", false}, {"", false}, {"12", true}, {"abc", true}};
    Quillon &w = LoadAndShow();
    for (const auto &row : cases) {
        w.TxtPriority->setText(QString::fromUtf8(row.text));
        QTest::mouseClick(w.ChkPriority, Qt::LeftButton);
        EXPECT_EQ(w.ChkPriority->isChecked(), row.staysChecked) << '"' << row.text << '"';
        EXPECT_EQ(w.Facility->isEnabled(), !row.staysChecked) << '"' << row.text << '"';
        EXPECT_EQ(w.Level->isEnabled(), !row.staysChecked) << '"' << row.text << '"';
        if (w.ChkPriority->isChecked()) {
            QTest::mouseClick(w.ChkPriority, Qt::LeftButton);
            EXPECT_TRUE(w.Facility->isEnabled());
        }
    }
}

TEST_F(PriorityControlsTest, LeavingThePriorityTextLimitsIt)
{
    const struct {
        const char *typed;
        const char *after;
    } cases[] = {{"300", "255"}, {"-5", "0"}, {"12.5", "12.5"},    {"255", "255"},
                 {"abc", "abc"}, {"", ""},    {"Random", "Random"}};
    Quillon &w = LoadAndShow();
    for (const auto &row : cases) {
        w.TxtPriority->setFocus();
        ASSERT_TRUE(WaitUntil([&w] { return w.TxtPriority->hasFocus(); }));
        w.TxtPriority->clear();
        QTest::keyClicks(w.TxtPriority, QString::fromUtf8(row.typed));
        QTest::keyClick(w.TxtPriority, Qt::Key_Tab);
        ASSERT_TRUE(WaitUntil([&w] { return !w.TxtPriority->hasFocus(); }));
        EXPECT_EQ(w.TxtPriority->text(), row.after) << row.typed;
    }
}
} // namespace
