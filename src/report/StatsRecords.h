#pragma once

#include "load/SendSeconds.h"

#include <QJsonObject>

// The per-second records as the stats file holds them.
QJsonObject SendSecondJson(const SendSecond &record);
