#include "window/WindowControlInputs.h"

#include "common/QtText.h"
#include "engine/MessageFormat.h"
#include "transport/SocketEndpoint.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

bool WindowControlInputs::NoPriority() const
{
    return w.NoPriority->isChecked();
}

bool WindowControlInputs::SendHugePackets() const
{
    return w.SendHugePackets->isChecked();
}

bool WindowControlInputs::AddCRLF() const
{
    return w.AddCRLF->isChecked();
}

int WindowControlInputs::TransportIndex() const
{
    return w.Transport->currentIndex();
}

Framing WindowControlInputs::StreamFraming() const
{
    return w.FormatSettings.framing;
}

bool WindowControlInputs::ChkPriorityChecked() const
{
    return w.ChkPriority->isChecked();
}

std::string WindowControlInputs::TxtPriorityText() const
{
    return ToBytes(w.TxtPriority->text());
}

int WindowControlInputs::FacilityIndex() const
{
    return w.Facility->currentIndex();
}

int WindowControlInputs::LevelIndex() const
{
    return w.Level->currentIndex();
}

bool WindowControlInputs::RfcHeaderChecked() const
{
    return w.ChkRFCMessages->isChecked();
}

std::string WindowControlInputs::LocalHostName() const
{
    return w.UDP1->LocalHostName();
}
