#pragma once

#include "metrics/MetricsSnapshot.h"

// Where the engines' figures go each second (a sender's, a receiver's) and
// after each probe step, besides the summary. Publish is called on the
// engine's thread and must return at once.
class MetricsSink {
public:
    virtual ~MetricsSink() = default;
    virtual void Publish(const MetricsSnapshot &snapshot) = 0;
};
