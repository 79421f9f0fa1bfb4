#include "handlers/TargetValidationControl.h"

#include "common/QtText.h"
#include "common/TextHelpers.h"
#include "handlers/SendControls.h"
#include "transport/PortRules.h"

#include <QComboBox>
#include <QLineEdit>

TargetValidationControl::TargetValidationControl(SendControls &controls) : w(controls)
{}

bool TargetValidationControl::ValidateTargetAndPorts()
{
    w.TxtPriority->setText(FromBytes(NormalisePriorityText(ToBytes(w.TxtPriority->text()))));
    w.PortNumber->setEditText(FromBytes(NormalisePortText(ToBytes(w.PortNumber->currentText()))));
    const std::string sourcePort = ToBytes(w.SourcePortNumber->currentText());
    if (sourcePort != RandomSourcePort)
        w.SourcePortNumber->setEditText(FromBytes(NormaliseSourcePortText(sourcePort)));

    if (PortsClash(ToBytes(w.PortNumber->currentText()), ToBytes(w.SourcePortNumber->currentText()))) {
        w.services().messageBoxes->Show(
            w.Window, MessageBoxes::Icon::Information,
            QStringLiteral("Source and Destination ports must not be the same"),
            QStringLiteral("Sorry, Source and Destination ports must not be set to the same value"),
            MessageBoxes::Buttons::Ok);
        return false;
    }
    if (TrimSpaces(ToBytes(w.TargetIP->currentText())).empty()) {
        w.services().messageBoxes->Show(
            w.Window, MessageBoxes::Icon::Information, QStringLiteral("Invalid target address"),
            QStringLiteral("Please specify a valid target IP address or host name"), MessageBoxes::Buttons::Ok);
        return false;
    }
    return true;
}
