#pragma once

#include "probe/ProbeResult.h"

#include <QJsonObject>

QJsonObject ProcessFiguresJson(const ProcessFigures &process);
// One step as the document and the stats file hold it.
QJsonObject ProbeStepJson(const ProbeStep &step);
// The answer, its confidence and the soak, if any: the stats file's last record.
QJsonObject ProbeAnswerJson(const ProbeResult &result);
// The --json document, which the report is drawn from too.
QJsonObject ProbeResultJson(const ProbeResult &result);
