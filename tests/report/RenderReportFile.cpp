// Writes the report of the sample result, for the browser test:
//   render_probe_report REPORT.html
#include "SampleProbeResult.h"
#include "report/ProbeReport.h"

#include <fstream>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    std::ofstream out(argv[1]);
    out << RenderProbeReport(SampleProbeResult());
    return out ? 0 : 1;
}
