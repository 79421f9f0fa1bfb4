#include "metrics/PrometheusText.h"

#include "proof/DeliveryLedger.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {
// Bucket bounds in microseconds, from a tenth of a millisecond to 10 s: a
// loopback delivery and a collector that holds messages back both show.
constexpr std::array<std::uint64_t, 16> BoundsUs{100,   250,    500,    1000,   2500,    5000,    10000,   25000,
                                                 50000, 100000, 250000, 500000, 1000000, 2500000, 5000000, 10000000};

std::string Number(double value, std::chars_format format = std::chars_format::general)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value, format).ptr;
    return std::string(text.data(), end);
}

// Label values are anyone's text (--run-id): backslash, quote and line feed
// are escaped.
std::string Escaped(std::string_view value)
{
    std::string text;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            text += '\\';
        if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    return text;
}

class Writer {
public:
    explicit Writer(const MetricLabels &labels)
        : m_labels("run_id=\"" + Escaped(labels.runId) + "\",shard=\"" + Escaped(labels.shard) + "\",transport=\"" +
                   Escaped(labels.transport) + "\"")
    {}

    void Head(std::string_view name, std::string_view type)
    {
        m_text.append("# HELP ").append(name).append(" ").append(MetricNames::Help(name)).append("\n");
        m_text.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    }

    void Line(std::string_view name, const std::string &value, std::string_view extra = {})
    {
        m_text.append(name).append("{").append(m_labels).append(extra).append("} ").append(value).append("\n");
    }

    std::string Take() { return std::move(m_text); }

private:
    std::string m_labels;
    std::string m_text;
};

void WriteLatency(Writer &writer, const MetricsSnapshot::Latency &latency)
{
    const std::string_view name = MetricNames::Latency;
    const std::string base(name);
    const std::uint64_t samples = latency.histogram.Samples();
    writer.Head(name, "histogram");
    std::uint64_t below = 0;
    std::size_t next = 0;
    for (const std::uint64_t bound : BoundsUs) {
        // A bound within a bucket counts the whole bucket: within its 6.25 %.
        const std::size_t last = LatencyBuckets::IndexOf(bound);
        for (; next <= last; ++next)
            below = CappedSum(below, latency.histogram.Bucket(next));
        writer.Line(base + "_bucket", std::to_string(std::min(below, samples)),
                    ",le=\"" + Number(static_cast<double>(bound) / 1e6, std::chars_format::fixed) + "\"");
    }
    writer.Line(base + "_bucket", std::to_string(samples), ",le=\"+Inf\"");
    writer.Line(base + "_sum", Number(static_cast<double>(latency.sumUs) / 1e6));
    writer.Line(base + "_count", std::to_string(samples));
}
} // namespace

std::string PrometheusText(const MetricsSnapshot &snapshot)
{
    Writer writer(snapshot.labels);
    for (const MetricsSnapshot::Counter &counter : snapshot.counters) {
        writer.Head(counter.name, "counter");
        writer.Line(counter.name, std::to_string(std::min(counter.value, CountCap)));
    }
    for (const MetricsSnapshot::Gauge &gauge : snapshot.gauges) {
        writer.Head(gauge.name, "gauge");
        writer.Line(gauge.name, Number(gauge.value));
    }
    if (snapshot.latency)
        WriteLatency(writer, *snapshot.latency);
    return writer.Take();
}
