#pragma once

struct SendControls;

// The statistics and clock ticks, and the counter reset.
class Statistics {
public:
    explicit Statistics(SendControls &controls);

    void StatsUpdate_Timer();
    void UpdateClock_Timer();
    void CmdReset_Click();
    // Sending has stopped: the count shown is the final one, and the rate 0.
    void ShowFinalCount();

private:
    void ShowCount();

    SendControls &w;
};
