#include "probe/ProcessTable.h"

#include <QDir>
#include <QFile>

#include <map>

namespace {
bool ReadEntry(const QString &pid, ProcessEntry &entry)
{
    QFile file(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stat = file.readAll();
    // The name is in parentheses and may hold spaces and parentheses itself.
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return false;
    // After the name: state, parent, group, ... and the start time 20th.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20 || fields[0].isEmpty())
        return false;
    entry.pid = pid.toInt();
    entry.state = fields[0][0];
    entry.parent = fields[1].toInt();
    entry.group = fields[2].toInt();
    entry.startTicks = fields[19].toULongLong();
    entry.name = stat.mid(open + 1, close - open - 1).toStdString();
    return true;
}
} // namespace

std::vector<ProcessEntry> ListProcesses()
{
    std::vector<ProcessEntry> processes;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        ProcessEntry entry;
        bool number = false;
        pid.toInt(&number);
        if (number && ReadEntry(pid, entry))
            processes.push_back(entry);
    }
    return processes;
}

std::vector<ProcessEntry> DescendantsOf(int ancestor, const std::vector<ProcessEntry> &processes)
{
    std::map<int, int> parentOf;
    for (const ProcessEntry &process : processes)
        parentOf[process.pid] = process.parent;
    std::vector<ProcessEntry> descendants;
    for (const ProcessEntry &process : processes) {
        // A chain longer than the table is a loop read while pids were reused.
        int pid = process.parent;
        for (std::size_t hops = 0; pid > 1 && pid != ancestor && hops < processes.size(); ++hops) {
            const auto parent = parentOf.find(pid);
            pid = parent == parentOf.end() ? 0 : parent->second;
        }
        if (pid == ancestor && process.pid != ancestor)
            descendants.push_back(process);
    }
    return descendants;
}

std::optional<ProcessEntry> ReadProcess(int pid)
{
    ProcessEntry entry;
    if (pid <= 0 || !ReadEntry(QString::number(pid), entry))
        return std::nullopt;
    return entry;
}

std::string ProcessName(int pid)
{
    ProcessEntry entry;
    return ReadEntry(QString::number(pid), entry) ? entry.name : std::string();
}
