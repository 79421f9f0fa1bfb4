#include "cli/common/CliProcess.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {
QJsonObject ParsedLine(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    return json.object();
}
} // namespace

QStringList Arguments(const std::vector<std::string> &args)
{
    QStringList list;
    for (const std::string &arg : args)
        list << QString::fromStdString(arg);
    return list;
}

Outcome Collect(QProcess &program, std::string out)
{
    EXPECT_TRUE(WaitUntil([&] { return program.state() == QProcess::NotRunning; }, 30000));
    Outcome outcome;
    outcome.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    outcome.out = out + program.readAllStandardOutput().toStdString();
    outcome.err = program.readAllStandardError().toStdString();
    const std::size_t last = outcome.out.rfind('\n', outcome.out.size() - 2);
    const std::string line = outcome.out.substr(last == std::string::npos ? 0 : last + 1);
    if (line.rfind('{', 0) == 0)
        outcome.json = ParsedLine(QByteArray::fromStdString(line));
    return outcome;
}

Outcome RunToEnd(const QString &path, const std::vector<std::string> &args, const QByteArray &input)
{
    QProcess program;
    program.start(path, Arguments(args));
    EXPECT_TRUE(program.waitForStarted());
    program.write(input);
    program.closeWriteChannel();
    return Collect(program);
}

std::uint64_t Figure(const QJsonObject &object, const char *name)
{
    return static_cast<std::uint64_t>(object.value(QLatin1String(name)).toInteger(-1));
}

std::string FileText(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll().toStdString();
}

std::vector<QJsonObject> JsonLines(const QString &path)
{
    std::vector<QJsonObject> lines;
    for (const QByteArray &line : QByteArray::fromStdString(FileText(path)).trimmed().split('\n'))
        lines.push_back(ParsedLine(line));
    return lines;
}
