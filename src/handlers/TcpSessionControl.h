#pragma once

#include <QString>

struct SendControls;

// The TCP session as the window drives it: connect with its wait, disconnect,
// the endpoints' events and the transport switch.
class TcpSessionControl {
public:
    explicit TcpSessionControl(SendControls &controls);

    void CmdConnect_Click();
    void DisconnectTcp();
    void TCP1_Close();
    void TCP1_Error(int Number, const QString &Description);
    void UDP1_Error(int Number, const QString &Description);
    void Transport_Click();
    void PlayNamedSound(const QString &name);

    // How long one pass of the connect wait may sleep for events.
    static constexpr int WaitPassMilliseconds = 10;

private:
    // The TLS set-up of the next session, or none; false, after telling the
    // user which file is at fault, when it cannot be used.
    bool SetUpTls();
    // Lets queued events run, sleeping up to one wait pass when none is queued.
    // False when the window was destroyed meanwhile.
    bool YieldForEvents();

    SendControls &w;
};
