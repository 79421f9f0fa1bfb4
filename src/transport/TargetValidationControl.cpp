#include "transport/TargetValidationControl.h"

#include "window/Quillon.h"

TargetValidationControl::TargetValidationControl(Quillon &window) : w(window) {}

bool TargetValidationControl::ValidateTargetAndPorts()
{
    return true;
}
