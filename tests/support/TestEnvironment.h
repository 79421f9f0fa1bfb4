#pragma once

#include <QString>

#include <functional>

// Points the settings store (XDG_CONFIG_HOME, HOME) at a temporary folder that
// lives until the program ends, so no test touches the user's settings.
void IsolateSettingsStore();

// Processes events until the condition holds or the timeout passes.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);
