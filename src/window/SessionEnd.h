#pragma once

class QWidget;

// SIGTERM and SIGHUP (a logout, a kill, a container stop) close the window
// as File > Exit does, so a session ended that way keeps its settings.
// The handlers are in place once this returns.
void CloseOnSessionEnd(QWidget &window);
