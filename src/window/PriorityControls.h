#pragma once

class Quillon;

// Keeps facility, level, the priority text and "Use this value" consistent.
class PriorityControls {
public:
    explicit PriorityControls(Quillon &window);

    void Facility_Click();
    void Level_Click();
    void ChkPriority_Click();
    void TxtPriority_LostFocus();

private:
    void ShowSelectedPriority();

    Quillon &w;
};
