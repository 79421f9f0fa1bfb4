#include "shell/VisualStyles.h"

#include <QGroupBox>
#include <QSysInfo>
#include <QWidget>

namespace {
bool g_visualStylesActive = false;

// The adaptation exists only where a frame's procedure can be replaced.
constexpr bool FrameAdaptationAvailable = false;
} // namespace

void InitVisualStyles()
{
    g_visualStylesActive = false;
    const std::string versionClass = GetWindowsVersionClass();
    if (versionClass != "XP" && versionClass != "2K3" && versionClass != "VISTA")
        return;
    g_visualStylesActive = FrameAdaptationAvailable;
}

bool VisualStylesActive()
{
    return g_visualStylesActive;
}

void SubclassFrames(QWidget *window)
{
    if (!g_visualStylesActive || !window)
        return;
    for (QGroupBox *frame : window->findChildren<QGroupBox *>())
        SubclassFrame(frame);
}

void UnsubclassFrames(QWidget *window)
{
    if (!g_visualStylesActive || !window)
        return;
    for (QGroupBox *frame : window->findChildren<QGroupBox *>())
        UnsubclassFrame(frame);
}

void SubclassFrame(QWidget *)
{}

void UnsubclassFrame(QWidget *)
{}

std::string VersionClassFor(std::optional<std::string> versionValue)
{
    if (!versionValue)
        return "9X";
    const std::string prefix = versionValue->substr(0, 3);
    if (prefix == "5.0")
        return "2K";
    if (prefix == "5.1")
        return "XP";
    if (prefix == "5.2")
        return "2K3";
    if (prefix == "6.0")
        return "VISTA";
    return "NT4";
}

std::optional<std::string> PlatformVersionValue()
{
    const QByteArray version = QSysInfo::kernelVersion().toLatin1();
    if (version.isEmpty())
        return std::nullopt;
    return version.toStdString();
}

std::string GetWindowsVersionClass()
{
    return VersionClassFor(PlatformVersionValue());
}
