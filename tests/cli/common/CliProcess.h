#pragma once

#include <QJsonObject>
#include <QProcess>

#include <cstdint>
#include <string>
#include <vector>

// Running the built command-line programs and reading what they write.
struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
    QJsonObject json; // the last line, when it is JSON (it must then parse)
};

QStringList Arguments(const std::vector<std::string> &args);
// Processes events while waiting, so a receiver in this process keeps reading.
Outcome Collect(QProcess &program, std::string out = {});
Outcome RunToEnd(const QString &path, const std::vector<std::string> &args, const QByteArray &input = {});
std::uint64_t Figure(const QJsonObject &object, const char *name);
std::string FileText(const QString &path);
// A file of JSON lines, each of which must parse.
std::vector<QJsonObject> JsonLines(const QString &path);
