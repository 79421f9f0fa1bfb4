#pragma once

#include <QString>
#include <QStringList>

#include <optional>

inline constexpr int HelpContextMainWindow = 1000;

QString HelpFileName();

// The help file in a folder. A folder that already ends in a separator, such
// as the root, gets no second one.
QString HelpFilePath(const QString &folder);

// Where the help may lie, first choice first: beside the program, then in the
// installed data folder.
QStringList HelpFileCandidates(const QString &programFolder);

// The first candidate that can be read.
std::optional<QString> LocateHelpFile(const QString &programFolder);
