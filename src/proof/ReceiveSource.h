#pragma once

#include <string>

// Where the probe's receiver reads from: a listener or a file that grows.
// Each turn hands what arrived to the intake it was made with.
class ReceiveSource {
public:
    virtual ~ReceiveSource() = default;
    // False with the reason in error.
    [[nodiscard]] virtual bool Open(std::string &error) = 0;
    // "tcp 0.0.0.0:5514", "file /var/log/probe.log"
    virtual std::string Where() const = 0;
    // Waits at most timeoutMs for something to read and takes it.
    virtual void RunOnce(int timeoutMs) = 0;
    // Hands on a message still waiting for its end.
    virtual void Finish() = 0;
};
