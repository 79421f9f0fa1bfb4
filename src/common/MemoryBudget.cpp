#include "common/MemoryBudget.h"

#include <cstdio>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

namespace {
constexpr std::size_t ShareOfLimit = 2;
constexpr std::size_t ShareOfMachine = 4;
// When the machine will not say its size: far below any machine this runs on.
constexpr std::size_t UnknownMachine = std::size_t{1} << 30;

std::size_t MachineMemory()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return UnknownMachine;
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
}
} // namespace

std::optional<std::size_t> AddressSpaceLeft()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const std::size_t used = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

std::size_t InputBudget()
{
    if (const auto left = AddressSpaceLeft())
        return *left / ShareOfLimit;
    return MachineMemory() / ShareOfMachine;
}

std::string BudgetText(std::size_t budget)
{
    if (AddressSpaceLeft())
        return "the " + MemoryText(budget) + " this process may use (ulimit -v)";
    return "the " + MemoryText(budget) + " an input may take on this machine (a quarter of its memory)";
}

std::string MemoryText(std::size_t bytes)
{
    static constexpr const char *Units[] = {"KB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    for (value /= 1000; value >= 1000 && unit + 1 < std::size(Units); value /= 1000)
        ++unit;
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, Units[unit]);
    return text;
}
