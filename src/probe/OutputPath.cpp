#include "probe/OutputPath.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

std::optional<std::string> UnwritableReason(const std::string &path)
{
    if (path.empty())
        return std::nullopt;
    const QFileInfo file(QString::fromStdString(path));
    if (file.isDir())
        return "it is a folder";
    const std::string folder = file.absolutePath().toStdString();
    const QFileInfo parent(file.absolutePath());
    if (!parent.exists())
        return "the folder '" + folder + "' does not exist";
    if (!parent.isDir())
        return "'" + folder + "' is not a folder";
    const std::string &checked = file.exists() ? path : folder;
    if (::access(checked.c_str(), file.exists() ? W_OK : W_OK | X_OK) != 0)
        return std::strerror(errno);
    return std::nullopt;
}
