#include "metrics/PrometheusText.h"

#include "proof/DeliveryLedger.h"

#include <algorithm>
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

std::string LabelText(std::string_view runId, std::string_view shard, std::string_view transport)
{
    return "run_id=\"" + Escaped(runId) + "\",shard=\"" + Escaped(shard) + "\",transport=\"" + Escaped(transport) +
           "\"";
}

class Writer {
public:
    explicit Writer(const MetricLabels &labels)
        : m_transport(labels.transport), m_labels(LabelText(labels.runId, labels.shard, labels.transport))
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

    void Line(std::string_view name, const std::string &value, const std::optional<RunShardLabels> &of)
    {
        if (!of)
            return Line(name, value);
        m_text.append(name)
            .append("{")
            .append(LabelText(of->runId, of->shard, m_transport))
            .append("} ")
            .append(value)
            .append("\n");
    }

    std::string Take() { return std::move(m_text); }

private:
    std::string m_transport;
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

// A family's lines go together under one head, whatever order they were set in.
template <typename Series, typename Format>
void WriteFamilies(Writer &writer, const std::vector<Series> &all, std::string_view type, Format format)
{
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string_view name = all[i].name;
        const auto before = all.begin() + static_cast<std::ptrdiff_t>(i);
        if (std::find_if(all.begin(), before, [name](const Series &s) { return s.name == name; }) != before)
            continue;
        writer.Head(name, type);
        for (std::size_t j = i; j < all.size(); ++j)
            if (all[j].name == name)
                writer.Line(name, format(all[j].value), all[j].of);
    }
}
} // namespace

std::string PrometheusText(const MetricsSnapshot &snapshot)
{
    Writer writer(snapshot.labels);
    WriteFamilies(writer, snapshot.counters, "counter",
                  [](std::uint64_t value) { return std::to_string(std::min(value, CountCap)); });
    WriteFamilies(writer, snapshot.gauges, "gauge", [](double value) { return Number(value); });
    if (snapshot.latency)
        WriteLatency(writer, *snapshot.latency);
    return writer.Take();
}
