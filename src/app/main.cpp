#include "window/Quillon.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Quillon w;
    w.Form_Load();
    w.show();
    return app.exec();
}
