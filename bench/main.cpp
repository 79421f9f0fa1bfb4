#include "BenchSection.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
std::vector<BenchSection> &Registry()
{
    static std::vector<BenchSection> sections;
    return sections;
}
} // namespace

BenchSection::Register::Register(const char *name, Run run)
{
    Registry().push_back({name, run});
}

const std::vector<BenchSection> &BenchSection::All()
{
    return Registry();
}

double MillisecondsSince(BenchClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

void PrintFigure(const std::string &label, double value, const std::string &unit)
{
    const bool whole = value == std::floor(value) && std::fabs(value) < 1e15;
    const int decimals = whole || value >= 100 ? 0 : value >= 1 ? 2 : 4;
    std::printf("  %s: %.*f%s%s\n", label.c_str(), decimals, value, unit.empty() ? "" : " ", unit.c_str());
    std::fflush(stdout);
}

void PrintNote(const std::string &text)
{
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

int main(int argc, char **argv)
{
    // Sections may build the window: keep it off screen and its settings away
    // from the user's.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("HOME", settings.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", settings.path().toLocal8Bit());
    QApplication app(argc, argv);

    std::vector<BenchSection> sections = BenchSection::All();
    std::sort(sections.begin(), sections.end(),
              [](const BenchSection &a, const BenchSection &b) { return a.name < b.name; });
    const QStringList wanted = app.arguments().mid(1);
    if (wanted.contains(QStringLiteral("--list"))) {
        for (const BenchSection &section : sections)
            std::printf("%s\n", section.name.c_str());
        return 0;
    }
    for (const BenchSection &section : sections) {
        if (!wanted.isEmpty() && !wanted.contains(QString::fromStdString(section.name)))
            continue;
        std::printf("== %s\n", section.name.c_str());
        std::fflush(stdout);
        section.run();
    }
    return 0;
}
