#include "common/Version.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel placeholder(QStringLiteral("Wren Syslog Message Generator %1: the window is still being built.")
                           .arg(QString::fromLatin1(QuillonVersion::VersionText)));
    placeholder.show();
    return app.exec();
}
