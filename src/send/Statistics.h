#pragma once

class Quillon;

// The statistics and clock ticks, and the counter reset.
class Statistics {
public:
    explicit Statistics(Quillon &window);

    void StatsUpdate_Timer();
    void UpdateClock_Timer();
    void CmdReset_Click();

private:
    Quillon &w;
};
