#include "shell/VisualStyles.h"

void InitVisualStyles() {}

bool VisualStylesActive()
{
    return false;
}

void SubclassFrames(QWidget *) {}

void UnsubclassFrames(QWidget *) {}
