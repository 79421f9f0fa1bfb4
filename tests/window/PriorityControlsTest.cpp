#include "support/WindowFixture.h"

namespace {
using PriorityControlsTest = WindowFixture;

// The priority shown follows the lists; the check box keeps only a value; leaving the text limits it.
TEST_F(PriorityControlsTest, ListsCheckBoxAndTypedTextKeepThePriorityConsistent)
{
    Quillon &w = Load(true);
    // Mail/Error, Local7/Debug, Random facility, Random level.
    const struct {
        int facility, level;
        const char *shown;
    } picks[] = {{2, 3, "19"}, {23, 7, "191"}, {24, 3, "Random"}, {1, 8, "Random"}};
    for (const auto &row : picks) {
        Pick(w.Facility, row.facility);
        Pick(w.Level, row.level);
        EXPECT_EQ(w.TxtPriority->text(), row.shown) << row.facility << "/" << row.level;
        if (QString::fromUtf8(row.shown) != "Random") {
            EXPECT_EQ(w.State.Priority, row.facility * 8 + row.level);
        }
    }

    for (const auto &[text, staysChecked] : {std::pair{"Random", false}, {"   ", false}, {"12", true}}) {
        w.TxtPriority->setText(QString::fromUtf8(text));
        QTest::mouseClick(w.ChkPriority, Qt::LeftButton);
        EXPECT_EQ(w.ChkPriority->isChecked(), staysChecked) << '"' << text << '"';
        EXPECT_EQ(w.Facility->isEnabled(), !staysChecked) << '"' << text << '"';
        EXPECT_EQ(w.Level->isEnabled(), !staysChecked) << '"' << text << '"';
        if (staysChecked) {
            QTest::mouseClick(w.ChkPriority, Qt::LeftButton);
            EXPECT_TRUE(w.Facility->isEnabled());
            EXPECT_TRUE(w.Level->isEnabled());
        }
    }

    // Only the leading number counts: "1 500" is 1 and "&H1FF" none.
    const char *const typed[][2] = {{"300", "255"},       {"-5", "0"},        {"255", "255"},    {"12.5", "12.5"},
                                    {"Random", "Random"}, {"1 500", "1 500"}, {"&H1FF", "&H1FF"}};
    for (const auto &row : typed) {
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
