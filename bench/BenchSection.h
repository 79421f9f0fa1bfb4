#pragma once

#include <chrono>
#include <string>
#include <vector>

// One part of the benchmark program. A section lives in its own file and
// registers itself with a static BenchSection::Register; main runs them all
// in name order, or those named on the command line.
struct BenchSection {
    using Run = void (*)();
    std::string name;
    Run run;

    struct Register {
        Register(const char *name, Run run);
    };
    static const std::vector<BenchSection> &All();
};

using BenchClock = std::chrono::steady_clock;

double MillisecondsSince(BenchClock::time_point start);
// One figure per line: "  label: value unit".
void PrintFigure(const std::string &label, double value, const std::string &unit);
void PrintNote(const std::string &text);
