#pragma once

#include <QString>

struct SendControls;

// The Send/Stop command and the two send timers.
class SendScheduler {
public:
    explicit SendScheduler(SendControls &controls);

    void CmdSend_Click();
    void tmrSend_Timer();
    void Timer2_Timer();

private:
    // False when the window was closed or destroyed while the message yielded.
    bool SendOneMessage();
    void SendBurst();
    void DisarmSendTimers();
    void ReportFailure(const QString &what);

    SendControls &w;
    // The event-loop level of the innermost message still inside its yield,
    // or -1. A tick due right inside that yield is skipped, so short delays
    // cannot pile ticks on the stack; one due inside a modal window opened
    // meanwhile runs on a deeper level and still sends.
    int m_yieldLoopLevel = -1;
    bool m_reportingFailure = false;
};
