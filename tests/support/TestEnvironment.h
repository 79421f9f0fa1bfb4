#pragma once

#include <QString>

#include <functional>
#include <string>

// Points the settings store (XDG_CONFIG_HOME, HOME) at a temporary folder that
// lives until the program ends, so no test touches the user's settings.
void IsolateSettingsStore();

// Replaces the store's Settings group with "Key=value" entries separated by '|'.
void WriteSettingsStore(const QString &entries);

// Processes events until the condition holds or the timeout passes.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);

// Delivers what sockets and worker threads have queued for the event loop.
void DeliverQueuedEvents();

// "<number>" padded to size with a byte of its own, so a lost or swapped packet shows.
std::string NumberedPacket(int number, std::size_t size);
