#pragma once

#include <QJsonObject>

#include <string>

// The --report page: one self-contained HTML file drawn from the --json
// document, so it opens offline and shows what the JSON says.
std::string RenderProbeReport(const QJsonObject &result);
