#pragma once

#include <string>

class QWidget;

// The platform adaptation of frames. There is nothing to adapt here, so it
// stays inactive; the version mapping is kept as a pure function.
void InitVisualStyles();
bool VisualStylesActive();
void SubclassFrames(QWidget *window);
void UnsubclassFrames(QWidget *window);
