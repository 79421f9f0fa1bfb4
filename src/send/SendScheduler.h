#pragma once

#include <QString>

class Quillon;

// The Send/Stop command and the two send timers.
class SendScheduler {
public:
    explicit SendScheduler(Quillon &window);

    void CmdSend_Click();
    void tmrSend_Timer();
    void Timer2_Timer();

private:
    // False when the window was closed or destroyed while the message yielded.
    bool SendOneMessage();
    void SendBurst();
    void DisarmSendTimers();
    void ReportFailure(const QString &what);

    Quillon &w;
    // Single messages still inside their yield; a timer tick waits for them so
    // short delays cannot pile ticks on the stack.
    int m_yieldDepth = 0;
    bool m_reportingFailure = false;
};
