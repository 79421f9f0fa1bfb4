#include "shell/HelpFile.h"

#include <QDir>
#include <QFileInfo>

#ifndef QUILLON_HELP_FROM_PROGRAM
#define QUILLON_HELP_FROM_PROGRAM "../share/quillon"
#endif

QString HelpFileName()
{
    return QStringLiteral("Wren_Quillon.html");
}

QString HelpFilePath(const QString &folder)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + HelpFileName();
    return folder + QLatin1Char('/') + HelpFileName();
}

QStringList HelpFileCandidates(const QString &programFolder)
{
    const QString installed = QDir::cleanPath(programFolder + QStringLiteral("/" QUILLON_HELP_FROM_PROGRAM));
    return {HelpFilePath(programFolder), HelpFilePath(installed)};
}

std::optional<QString> LocateHelpFile(const QString &programFolder)
{
    for (const QString &candidate : HelpFileCandidates(programFolder)) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isReadable())
            return candidate;
    }
    return std::nullopt;
}
