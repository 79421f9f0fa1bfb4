#include "transport/TargetValidationControl.h"
#include "support/SendingWindow.h"
#include "window/FocusLineEdit.h"

#include <gtest/gtest.h>

namespace {
TEST(TargetValidation, RewritesTheFieldsAndRefusesAClashBeforeAnEmptyTarget)
{
    const QString random = QStringLiteral("Random port > 1023");
    const QString clash = QStringLiteral("Sorry, Source and Destination ports must not be set to the same value");
    const QString noTarget = QStringLiteral("Please specify a valid target IP address or host name");
    struct Case {
        QString priority, port, source, target, priorityAfter, portAfter, sourceAfter, box;
    };
    const Case cases[] = {
        {"300", "", "0", "localhost", "191", "514", random, ""},
        {"abc", "70000", "abc", "h", "0", "514", random, ""},
        {"Random", "0", "", "h", "0", "514", random, ""},
        {"255", "1468", "2000", "h", "255", "1468", "2000", ""},
        {"13", "&H5BC", "70000", "h", "13", "1468", random, ""},
        {"13", "514", "514.0", "h", "13", "514", "514", clash},
        {"13", "514", "600", "   ", "13", "514", "600", noTarget},
        {"13", "", "514", "", "13", "514", "514", clash},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.priority + '|' + c.port + '|' + c.source + '|' + c.target).toStdString());
        SendingWindow w(c.target);
        w->TxtPriority->setText(c.priority);
        w->PortNumber->setEditText(c.port);
        w->SourcePortNumber->setEditText(c.source);
        EXPECT_EQ(w->Validation->ValidateTargetAndPorts(), c.box.isEmpty());
        EXPECT_EQ(w->TxtPriority->text() + '|' + w->PortNumber->currentText() + '|' +
                      w->SourcePortNumber->currentText(),
                  c.priorityAfter + '|' + c.portAfter + '|' + c.sourceAfter);
        const auto &shown = w.services.boxes.shown;
        ASSERT_EQ(shown.size(), c.box.isEmpty() ? 0u : 1u);
        if (!shown.empty()) {
            EXPECT_EQ(shown[0].text, c.box);
            EXPECT_EQ(shown[0].icon, MessageBoxes::Icon::Information);
            EXPECT_EQ(shown[0].title, c.box == clash
                                          ? QStringLiteral("Source and Destination ports must not be the same")
                                          : QStringLiteral("Invalid target address"));
        }
    }
}
} // namespace
