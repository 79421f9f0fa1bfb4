#pragma once

#include <QJsonObject>

#include <string>

// The probe's result (its --json document) as one self-contained HTML page:
// the verdict, a table of the steps and uPlot charts, with the data, uPlot
// and the page's script inline so it opens offline.
std::string RenderProbeReport(const QJsonObject &result);
