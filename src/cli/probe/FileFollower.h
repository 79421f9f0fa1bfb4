#pragma once

#include "cli/probe/ReceiveSource.h"
#include "common/Clock.h"
#include "transport/FrameSplitter.h"

#include <cstdint>
#include <string>

class MessageIntake;

// Reads the lines a collector writes to a file as they come, each taken
// with the time it was read. The file may not exist yet; what it held
// before is skipped, and a file cut short (rotated in place) is read again
// from its start. Waits on inotify on the file's folder, so a turn costs
// nothing while the collector writes nothing.
class FileFollower final : public ReceiveSource, private FrameHandler {
public:
    FileFollower(std::string path, MessageIntake &intake, const Clock &clock);
    ~FileFollower() override;
    FileFollower(const FileFollower &) = delete;
    FileFollower &operator=(const FileFollower &) = delete;

    [[nodiscard]] bool Open(std::string &error) override;
    std::string Where() const override { return "file " + m_path; }
    void RunOnce(int timeoutMs) override;
    void Finish() override;

private:
    void OnFrame(std::string_view line) override;
    void ReadNew();

    std::string m_path;
    MessageIntake &m_intake;
    const Clock &m_clock;
    FrameSplitter m_lines;
    std::string m_buffer;
    int m_notify = -1;
    int m_fd = -1;
    std::int64_t m_offset = 0;
    std::int64_t m_nowUs = 0;
};
