#include "handlers/TargetValidationControl.h"
#include "support/SendingWindow.h"
#include "window/FocusLineEdit.h"

#include <gtest/gtest.h>

namespace {
TEST(TargetValidation, RewritesTheFieldsAndRefusesAClashBeforeAnEmptyTarget)
{
    const QString random = QStringLiteral("Random port > 1023");
    const QString clash = QStringLiteral("Sorry, Source and Destination ports must not be set to the same value");
    const QString noTarget = QStringLiteral("Please specify a valid target IP address or host name");
    // priority|port|source|target before, priority|port|source after, the box shown
    const std::tuple<QString, QString, QString> cases[] = {
        {"300||0|localhost", "191|514|" + random, ""}, {"abc|70000|abc|h", "0|514|" + random, ""},
        {"Random|0||h", "0|514|" + random, ""},        {"255|1468|2000|h", "255|1468|2000", ""},
        {"13|&H5BC|70000|h", "13|1468|" + random, ""}, {"13|514|514.0|h", "13|514|514", clash},
        {"13|514|600|   ", "13|514|600", noTarget},    {"13||514|", "13|514|514", clash}};
    for (const auto &[before, after, box] : cases) {
        SCOPED_TRACE(before.toStdString());
        const QStringList in = before.split('|');
        SendingWindow w(in[3]);
        w->TxtPriority->setText(in[0]);
        w->PortNumber->setEditText(in[1]);
        w->SourcePortNumber->setEditText(in[2]);
        EXPECT_EQ(w->Validation->ValidateTargetAndPorts(), box.isEmpty());
        EXPECT_EQ(w->TxtPriority->text() + '|' + w->PortNumber->currentText() + '|' +
                      w->SourcePortNumber->currentText(),
                  after);
        const auto &shown = w.services.boxes.shown;
        ASSERT_EQ(shown.size(), box.isEmpty() ? 0u : 1u);
        if (!shown.empty()) {
            EXPECT_EQ(shown[0].text, box);
            EXPECT_EQ(shown[0].icon, MessageBoxes::Icon::Information);
            EXPECT_EQ(shown[0].title, box == clash ? QStringLiteral("Source and Destination ports must not be the same")
                                                   : QStringLiteral("Invalid target address"));
        }
    }
}
} // namespace
