#pragma once

struct SendControls;

// Brings the window's priority, port and target fields into range before
// anything is sent or connected.
class TargetValidationControl {
public:
    explicit TargetValidationControl(SendControls &controls);

    bool ValidateTargetAndPorts();

private:
    SendControls &w;
};
