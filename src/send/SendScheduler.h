#pragma once

class Quillon;

// The Send/Stop command and the two send timers.
class SendScheduler {
public:
    explicit SendScheduler(Quillon &window);

    void CmdSend_Click();
    void tmrSend_Timer();
    void Timer2_Timer();

private:
    Quillon &w;
};
