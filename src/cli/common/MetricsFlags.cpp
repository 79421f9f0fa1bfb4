#include "cli/common/MetricsFlags.h"

#include "cli/common/FlagValues.h"

namespace {
// A scraper that asks every few minutes still gets the run's end.
constexpr double MostLingerSeconds = 3600;
} // namespace

FlagGroup MetricsFlagGroup(MetricsOptions &options)
{
    return {FlagGroupId::Metrics,
            "Metrics (Prometheus)",
            {
                {"--metrics-listen", "[ADDR:]PORT",
                 "serve /metrics in Prometheus' text format here, from\n"
                 "a thread of its own (a port alone: 127.0.0.1; IPv6 in\n"
                 "brackets, [::1]:9100; port 0 picks a free one)",
                 [&options](std::string_view value) -> Status {
                     options.listen = ReadMetricsAddress(value);
                     if (!options.listen)
                         return Status::Failure("--metrics-listen: " + Quoted(value) +
                                                " is not [ADDR:]PORT (an IP address and a port from 0 to 65535)");
                     return {};
                 }},
                {"--metrics-linger", "S",
                 "after the run, serve its last values until a scrape\n"
                 "has had them, at most S seconds (default 0)",
                 [&options](std::string_view value) -> Status {
                     const auto seconds = WholeNumber(value) == 0 ? std::optional<double>(0) : PositiveNumber(value);
                     if (!seconds || *seconds > MostLingerSeconds)
                         return Status::Failure("--metrics-linger: " + Quoted(value) +
                                                " is not a number of seconds from 0 to 3600");
                     options.lingerSeconds = *seconds;
                     return {};
                 }},
            }};
}

MetricsStart StartMetrics(const MetricsOptions &options, std::string_view program, std::ostream &err, bool quiet)
{
    MetricsStart start;
    if (!options.listen)
        return start;
    start.endpoint = std::make_unique<MetricsEndpoint>();
    if (Status started = start.endpoint->Start(*options.listen); !started) {
        start.endpoint.reset();
        start.status = Status::Failure("--metrics-listen: " + started.Why());
        return start;
    }
    if (!quiet)
        err << program << ": metrics on http://" << start.endpoint->Where() << "/metrics" << std::endl;
    return start;
}
