#pragma once

#include <optional>
#include <string>

class QWidget;

// The platform adaptation of frames. Nothing here replaces a window's
// procedure, so the adaptation stays inactive and the frame operations touch
// no window; the version mapping is kept as a pure function.
void InitVisualStyles();
bool VisualStylesActive();
void SubclassFrames(QWidget *window);
void UnsubclassFrames(QWidget *window);
void SubclassFrame(QWidget *frame);
void UnsubclassFrame(QWidget *frame);

// "9X", "NT4", "2K", "XP", "2K3" or "VISTA" by the first three characters of
// the version value; nothing readable gives "9X".
std::string VersionClassFor(std::optional<std::string> versionValue);

// The kernel version this platform reports, or nothing when it reports none.
std::optional<std::string> PlatformVersionValue();

std::string GetWindowsVersionClass();
