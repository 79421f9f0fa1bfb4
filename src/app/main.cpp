#include "shell/ShellResources.h"
#include "window/Quillon.h"
#include "window/SessionEnd.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InstallApplicationIcon();
    Quillon w;
    w.Form_Load();
    w.show();
    CloseOnSessionEnd(w);
    return app.exec();
}
