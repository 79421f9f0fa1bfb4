#pragma once

// Whether a run was asked to stop (by a signal, through cli/common's
// StopSignals): every engine's loop looks at it, from any thread.
bool StopRequested();
void RequestStop();
void ClearStopRequest();
