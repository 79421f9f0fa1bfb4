#pragma once

#include "probe/ProbeResult.h"

#include <string>

// The probe's result as one self-contained HTML page: the verdict, where
// and how sure, charts by offered rate, the steps and why each failed, the
// soak, the watched processes over time and the settings. The data the
// charts draw (and the --json document), uPlot and the page's script are
// inline, so it opens offline.
std::string RenderProbeReport(const ProbeResult &result);
