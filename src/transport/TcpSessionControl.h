#pragma once

#include <QString>

class Quillon;

// The TCP session as the window drives it: connect with its wait, disconnect,
// the endpoints' events and the transport switch.
class TcpSessionControl {
public:
    explicit TcpSessionControl(Quillon &window);

    void CmdConnect_Click();
    void DisconnectTcp();
    void TCP1_Close();
    void TCP1_Error(int Number, const QString &Description);
    void UDP1_Error(int Number, const QString &Description);
    void Transport_Click();
    void PlayNamedSound(const QString &name);

private:
    Quillon &w;
};
