#pragma once

class Quillon;

// Brings the window's priority, port and target fields into range before
// anything is sent or connected.
class TargetValidationControl {
public:
    explicit TargetValidationControl(Quillon &window);

    bool ValidateTargetAndPorts();

private:
    Quillon &w;
};
