#pragma once

#include "common/Clock.h"
#include "proof/ReceiveSource.h"
#include "transport/FrameSplitter.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

class MessageIntake;

// Reads the lines a collector writes to a file as they come, each taken
// with the time it was read, and follows the name as a rotation moves it:
// a file renamed away (or removed) and made again is read to its end while
// the collector may still write to it, then the new one from its start; a
// file cut short in place is read again from its start. What the file held
// before the probe began is skipped; it may not exist yet. Only a regular
// file is followed: a device or a FIFO never ends. Waits on inotify on the
// file's folder, so a turn costs nothing while the collector writes nothing.
class FileFollower final : public ReceiveSource, private FrameHandler {
public:
    FileFollower(std::string path, MessageIntake &intake, const Clock &clock);
    ~FileFollower() override;
    FileFollower(const FileFollower &) = delete;
    FileFollower &operator=(const FileFollower &) = delete;

    Status Open() override;
    std::string Where() const override { return "file " + m_path; }
    void RunOnce(int timeoutMs) override;
    void Finish() override;
    // Lines only: frames, and those too long or cut short by a truncation.
    ReceiveCounts Counts() const override;

private:
    // One file read under the name: each has its own partial line.
    struct Followed {
        int fd = -1;
        dev_t device = 0;
        ino_t inode = 0;
        std::int64_t offset = 0;
        FrameSplitter lines{Framing::Lf, std::size_t{1} << 20};
    };

    void OnFrame(std::string_view line) override;
    // Reads what the file gained, up to a turn's share; true when more waits.
    bool ReadNew(Followed &file);
    void FollowName();
    void Close(Followed &file);

    std::string m_path;
    MessageIntake &m_intake;
    const Clock &m_clock;
    std::string m_buffer;
    int m_notify = -1;
    Followed m_current;
    // The file the name left, read on until the new one is written to.
    Followed m_previous;
    bool m_pending = false;
    // Lines of the files no longer followed.
    FrameCounts m_doneLines;
    std::int64_t m_nowUs = 0;
};
