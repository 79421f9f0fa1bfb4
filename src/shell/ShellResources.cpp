#include "shell/ShellResources.h"

#include <QApplication>
#include <QIcon>

static void RegisterShellResources()
{
    Q_INIT_RESOURCE(shell);
}

void InitShellResources()
{
    static const bool registered = (RegisterShellResources(), true);
    (void)registered;
}

void InstallApplicationIcon()
{
    InitShellResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/shell/quillon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/shell/quillon-32.png"), QSize(32, 32));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QStringLiteral("quillon"));
}
