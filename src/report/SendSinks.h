#pragma once

#include "load/SendRun.h"
#include "report/StatsFile.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

// A progress line each second of a run (not after its last full one).
class SendProgressSink final : public SendSink {
public:
    // duration: the run's --duration, 0 for none.
    SendProgressSink(std::ostream &out, double duration) : m_out(out), m_duration(duration) {}
    void Tick(const SendTick &tick) override;

private:
    std::ostream &m_out;
    double m_duration;
    std::int64_t m_sent = 0;
    std::optional<double> m_target;
};

// Each second's record as a line of the stats file.
class StatsFileSink final : public SendSink {
public:
    // Creates or empties the file.
    Status Open(const std::string &path) { return m_file.Open(path); }
    void Tick(const SendTick &tick) override;
    std::string Failure() const override { return m_file.Outcome().Why(); }

private:
    StatsFile m_file;
};
