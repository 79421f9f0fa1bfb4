#include "cli/probe/StepSender.h"

#include "load/SendRun.h"
#include "report/SendSinks.h"

#include <sstream>

namespace {
// Keeps what a run says.
class KeptLines final : public SendSink {
public:
    explicit KeptLines(std::vector<std::string> &lines) : m_lines(lines) {}
    void Say(const std::string &line) override { m_lines.push_back(line); }

private:
    std::vector<std::string> &m_lines;
};
} // namespace

StepSender::StepSender(const Options &options)
    : m_prepared(PrepareSend(options, [this](const std::string &line) { m_preparing.push_back(line); }))
{}

RunSummary StepSender::Run(const std::string &runId, double rate, double seconds, std::ostream *progress)
{
    m_said.clear();
    RunSummary summary = m_prepared.failure;
    if (m_prepared.Ready()) {
        Options send = m_prepared.options;
        send.pace = Pace::Rate;
        send.shape = LoadShape::Constant(rate);
        send.duration = seconds;
        send.count = 0;
        send.stamp = true;
        send.runId = runId;
        KeptLines kept(m_said);
        std::optional<SendProgressSink> lines;
        std::vector<SendSink *> sinks{&kept};
        if (progress)
            sinks.push_back(&lines.emplace(*progress, seconds));
        summary = RunLoad(send, m_prepared.tls, sinks);
    }
    m_error = summary.error;
    return summary;
}

std::string StepSender::Complaint() const
{
    std::ostringstream text;
    for (const std::vector<std::string> *lines : {&m_preparing, &m_said})
        for (const std::string &line : *lines)
            SayLine(text, line);
    if (!m_error.empty())
        SayLine(text, m_error);
    return text.str();
}
