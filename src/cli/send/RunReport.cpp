#include "cli/send/RunReport.h"

#include "cli/common/ProgressLine.h"

#include <cmath>
#include <cstdio>

namespace {
std::string Fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

double AverageRate(const RunSummary &summary)
{
    return summary.elapsedSeconds > 0 ? static_cast<double>(summary.sent) / summary.elapsedSeconds : 0;
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

} // namespace

std::string SummaryLine(const RunSummary &summary)
{
    return MessagesText(summary.sent) + " sent, " + std::to_string(summary.failed) + " failed in " +
           Fixed(summary.elapsedSeconds, 3) + " s: " + Fixed(std::round(AverageRate(summary)), 0) + " MPS average, " +
           std::to_string(summary.bytes) + " bytes";
}

std::string SummaryJson(const RunSummary &summary, const Options &options)
{
    std::string json = "{";
    json += "\"sent\":" + std::to_string(summary.sent);
    json += ",\"failed\":" + std::to_string(summary.failed);
    json += ",\"elapsed_seconds\":" + Fixed(summary.elapsedSeconds, 6);
    json += ",\"average_mps\":" + Fixed(AverageRate(summary), 1);
    json += ",\"bytes\":" + std::to_string(summary.bytes);
    json += ",\"transport\":" + JsonString(options.tcp ? "tcp" : "udp");
    json += ",\"target\":" + JsonString(options.target);
    json += ",\"port\":" + std::to_string(options.port);
    json += ",\"stopped_by\":" + JsonString(summary.stoppedBy);
    if (!summary.error.empty())
        json += ",\"error\":" + JsonString(summary.error);
    json += ",\"exit_status\":" + std::to_string(summary.exitStatus);
    json += "}";
    return json;
}
