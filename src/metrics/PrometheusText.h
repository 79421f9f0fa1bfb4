#pragma once

#include "metrics/MetricsSnapshot.h"

#include <string>

// The Content-Type of the text below.
inline constexpr const char *PrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";

// The snapshot in Prometheus' text exposition format: HELP and TYPE lines,
// then each series with the snapshot's labels. The latency histogram's
// buckets are cumulative, in seconds, on fixed bounds.
std::string PrometheusText(const MetricsSnapshot &snapshot);
