#include "transport/TargetValidationControl.h"
#include "support/SendingWindow.h"
#include "window/FocusLineEdit.h"

#include <gtest/gtest.h>

namespace {
const QString Random = QStringLiteral("Random port > 1023");

TEST(TargetValidationControl, RewritesTheFieldsAndRefusesTheTwoMistakes)
{
    enum class Box { None, Clash, Target };
    struct Case {
        QString priority, port, sourcePort, target;
        QString priorityAfter, portAfter, sourcePortAfter;
        Box box;
    };
    const Case cases[] = {
        {"300", "", "0", "localhost", "191", "514", Random, Box::None},
        {"abc", "70000", "abc", "127.0.0.1", "0", "514", Random, Box::None},
        {"Random", "0", "", "host", "0", "514", Random, Box::None},
        {"13", "1468", "2000", "host", "13", "1468", "2000", Box::None},
        {"13", "514", "70000", "host", "13", "514", Random, Box::None},
        {"13", "514", Random, "host", "13", "514", Random, Box::None},
        {"13", "514", "514.0", "host", "13", "514", "514", Box::Clash},
        {"13", "514", "600", "   ", "13", "514", "600", Box::Target},
        {"13", "", "514", "", "13", "514", "514", Box::Clash},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.priority + '|' + c.port + '|' + c.sourcePort + '|' + c.target).toStdString());
        SendingWindow window;
        window->TxtPriority->setText(c.priority);
        window->PortNumber->setEditText(c.port);
        window->SourcePortNumber->setEditText(c.sourcePort);
        window->TargetIP->setEditText(c.target);

        const bool accepted = window->Validation->ValidateTargetAndPorts();
        EXPECT_EQ(window->TxtPriority->text(), c.priorityAfter);
        EXPECT_EQ(window->PortNumber->currentText(), c.portAfter);
        EXPECT_EQ(window->SourcePortNumber->currentText(), c.sourcePortAfter);
        EXPECT_EQ(window->TargetIP->currentText(), c.target);
        EXPECT_EQ(accepted, c.box == Box::None);

        const auto &shown = window.services.boxes.shown;
        if (c.box == Box::None) {
            EXPECT_TRUE(shown.empty());
            continue;
        }
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].icon, MessageBoxes::Icon::Information);
        EXPECT_EQ(shown[0].buttons, MessageBoxes::Buttons::Ok);
        if (c.box == Box::Clash) {
            EXPECT_EQ(shown[0].title, QStringLiteral("Source and Destination ports must not be the same"));
            EXPECT_EQ(shown[0].text,
                      QStringLiteral("Sorry, Source and Destination ports must not be set to the same value"));
        } else {
            EXPECT_EQ(shown[0].title, QStringLiteral("Invalid target address"));
            EXPECT_EQ(shown[0].text, QStringLiteral("Please specify a valid target IP address or host name"));
        }
    }
}
} // namespace
