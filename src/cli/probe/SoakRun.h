#pragma once

#include "cli/probe/ProbeCommandLine.h"
#include "probe/ProbeResult.h"

#include <QJsonObject>

#include <functional>
#include <ostream>
#include <string>

class ProbeReceiver;
class StepSender;
class ProcessWatch;
class ProbeClock;

// Holds one rate for --soak's duration, in runs of at most a minute (at
// least ten, so each tenth is whole runs), each its own stamped run so its
// latency is known apart; then judges what the collector did over it.
// Ends early, with what it has, on a stop signal.
class SoakRun {
public:
    // watch may be null: no process is watched. record gets each run's
    // figures as it ends, for the stats file.
    SoakRun(const ProbeOptions &options, StepSender &sender, ProbeReceiver &receiver, const ProcessWatch *watch,
            const ProbeClock &clock, std::ostream &err, std::function<void(const QJsonObject &)> record);
    SoakResult Run(double rate, const std::string &runBase);

private:
    const ProbeOptions &m_options;
    StepSender &m_sender;
    ProbeReceiver &m_receiver;
    const ProcessWatch *m_watch;
    const ProbeClock &m_clock;
    std::ostream &m_err;
    std::function<void(const QJsonObject &)> m_record;
};
