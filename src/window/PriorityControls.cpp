#include "window/PriorityControls.h"

#include "common/Numbers.h"
#include "common/QtText.h"
#include "common/SendState.h"
#include "common/TextHelpers.h"
#include "engine/Priority.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace {
const QString RandomEntry = QStringLiteral("Random");
}

PriorityControls::PriorityControls(const Controls &controls) : w(controls)
{}

void PriorityControls::Facility_Click()
{
    if (w.Facility->currentText() == RandomEntry || w.Level->currentText() == RandomEntry) {
        w.TxtPriority->setText(RandomEntry);
        return;
    }
    ShowSelectedPriority();
}

void PriorityControls::Level_Click()
{
    if (w.Level->currentText() == RandomEntry || w.Facility->currentText() == RandomEntry) {
        w.TxtPriority->setText(RandomEntry);
        return;
    }
    ShowSelectedPriority();
}

void PriorityControls::ShowSelectedPriority()
{
    if (w.TxtPriority->text() == RandomEntry)
        w.ChkPriority->setChecked(false);
    w.State.Priority = SelectedPriority(w.Inputs);
    w.TxtPriority->setText(QString::number(w.State.Priority));
}

void PriorityControls::ChkPriority_Click()
{
    const bool useValue = w.ChkPriority->isChecked();
    w.Facility->setEnabled(!useValue);
    w.Level->setEnabled(!useValue);
    // Clearing the box runs this handler again, which enables the lists.
    if (w.TxtPriority->text() == RandomEntry)
        w.ChkPriority->setChecked(false);
    if (TrimSpaces(ToBytes(w.TxtPriority->text())).empty())
        w.ChkPriority->setChecked(false);
}

void PriorityControls::TxtPriority_LostFocus()
{
    if (ReadLeadingNumber(ToBytes(w.TxtPriority->text())) > 255)
        w.TxtPriority->setText(QStringLiteral("255"));
    if (ReadLeadingNumber(ToBytes(w.TxtPriority->text())) < 0)
        w.TxtPriority->setText(QStringLiteral("0"));
}
