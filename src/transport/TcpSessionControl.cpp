#include "transport/TcpSessionControl.h"

#include "window/Quillon.h"

TcpSessionControl::TcpSessionControl(Quillon &window) : w(window) {}

void TcpSessionControl::CmdConnect_Click() {}

void TcpSessionControl::DisconnectTcp() {}

void TcpSessionControl::TCP1_Close() {}

void TcpSessionControl::TCP1_Error(int, const QString &) {}

void TcpSessionControl::UDP1_Error(int, const QString &) {}

void TcpSessionControl::Transport_Click() {}

void TcpSessionControl::PlayNamedSound(const QString &) {}
