#pragma once

#include "cli/common/FlagTable.h"
#include "metrics/MetricsEndpoint.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string_view>

// What --metrics-listen and --metrics-linger asked for.
struct MetricsOptions {
    std::optional<MetricsAddress> listen;
    double lingerSeconds = 0;
};

// The "Metrics" group, alike in every program, after its output flags.
FlagGroup MetricsFlagGroup(MetricsOptions &options);

// The endpoint the options ask for, listening, its address said on err
// unless quiet; none without --metrics-listen. A failure is the flag's:
// the caller ends with a usage error.
struct MetricsStart {
    std::unique_ptr<MetricsEndpoint> endpoint;
    Status status;
};
MetricsStart StartMetrics(const MetricsOptions &options, std::string_view program, std::ostream &err, bool quiet);
