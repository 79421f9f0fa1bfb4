#include "probe/RunContext.h"

#include "common/Version.h"

#include <QDateTime>
#include <QSysInfo>

#include <algorithm>
#include <fstream>
#include <string_view>

#include <sys/utsname.h>
#include <unistd.h>

namespace {
bool Plain(const std::string &word)
{
    if (word.empty())
        return false;
    for (const char c : word)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              std::string_view("-_./:=,+@%").find(c) != std::string_view::npos))
            return false;
    return true;
}

// The first "model name" of /proc/cpuinfo; processors that have none there
// (most ARM ones) name their model on a "Model" or "Hardware" line.
std::string CpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string fallback;
    while (std::getline(cpuinfo, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        const std::size_t from = line.find_first_not_of(" \t", colon + 1);
        const std::string value = from == std::string::npos ? std::string() : line.substr(from);
        if (key == "model name")
            return value;
        if ((key == "Model" || key == "Hardware") && fallback.empty())
            fallback = value;
    }
    return fallback;
}
} // namespace

std::string ShellLine(const std::vector<std::string> &words)
{
    std::string line;
    for (const std::string &word : words) {
        if (!line.empty())
            line += ' ';
        if (Plain(word)) {
            line += word;
            continue;
        }
        line += '\'';
        for (const char c : word)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

ProbeContext ReadRunContext(const std::string &commandLine)
{
    ProbeContext context;
    const QDateTime now = QDateTime::currentDateTime();
    context.date = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString();
    context.host = QSysInfo::machineHostName().toStdString();
    context.system = QSysInfo::prettyProductName().toStdString();
    utsname names{};
    if (uname(&names) == 0)
        context.kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
    context.cpuModel = CpuModel();
    context.cpuCount = static_cast<int>(std::max(0L, sysconf(_SC_NPROCESSORS_ONLN)));
    std::ifstream loadavg("/proc/loadavg");
    double load = 0;
    for (int i = 0; i < 3 && loadavg >> load; ++i)
        context.loadAverage.push_back(load);
    if (context.loadAverage.size() != 3)
        context.loadAverage.clear();
    context.version = QuillonVersion::VersionText;
    context.commandLine = commandLine;
    return context;
}
