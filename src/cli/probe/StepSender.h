#pragma once

#include "cli/send/RunSender.h"
#include "load/RunSummary.h"

#include <ostream>
#include <string>
#include <vector>

// The sender of the probe's steps and soak runs: the files its flags name
// read and its TLS set up once for them all.
class StepSender {
public:
    explicit StepSender(const Options &options);

    // Sends stamped as runId at rate for seconds; with progress, a line
    // each second there.
    RunSummary Run(const std::string &runId, double rate, double seconds, std::ostream *progress);
    // What the sender had to say of the last run, its error last, in
    // quillon-send's words: why a run that failed did.
    std::string Complaint() const;

private:
    // Said while reading the files and setting up, and during the last run.
    std::vector<std::string> m_preparing;
    std::vector<std::string> m_said;
    PreparedSend m_prepared;
    std::string m_error;
};
