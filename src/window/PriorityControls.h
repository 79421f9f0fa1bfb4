#pragma once

class QCheckBox;
class QComboBox;
class QLineEdit;
class PriorityInputs;
struct SendState;

// Keeps facility, level, the priority text and "Use this value" consistent.
class PriorityControls {
public:
    // The window's controls these handlers work on, by their window names.
    struct Controls {
        QComboBox *Facility;
        QComboBox *Level;
        QLineEdit *TxtPriority;
        QCheckBox *ChkPriority;
        SendState &State;
        const PriorityInputs &Inputs;
    };

    explicit PriorityControls(const Controls &controls);

    void Facility_Click();
    void Level_Click();
    void ChkPriority_Click();
    void TxtPriority_LostFocus();

private:
    void ShowSelectedPriority();

    const Controls w;
};
