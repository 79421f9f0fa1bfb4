#pragma once

#include "probe/ProbeResult.h"

// A search against a collector that loses above 6,000 MPS, its boundary
// run again (once noisily) and a soak that leaks, with markup in the
// command it watched: every part of the report has something to show.
ProbeResult SampleProbeResult();
