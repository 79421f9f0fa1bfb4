#pragma once

#include "common/Status.h"

#include <cstddef>
#include <optional>
#include <string>

// A file read from start to end, "-" for standard input, that never keeps a
// program past a stop request: a FIFO is opened without waiting for its
// writer, and a FIFO, terminal or socket is waited on in short steps that
// look at the stop flag, so a first SIGTERM ends the read.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // Fails with the system's reason, or for a folder.
    Status Open(const std::string &path);
    bool IsRegular() const { return m_regular; }
    // The size a regular file has now; 0 for others.
    std::size_t Size() const { return m_size; }

    // Up to size bytes into buffer: their count, 0 at the end, or none when
    // the read failed or a stop was asked for (Stopped()).
    std::optional<std::size_t> Read(char *buffer, std::size_t size);
    bool Stopped() const { return m_stopped; }
    // Why the last read failed: "cannot read 'x': Input/output error".
    const Status &Outcome() const { return m_outcome; }

private:
    int m_fd = -1;
    bool m_owned = false;
    bool m_regular = false;
    bool m_stopped = false;
    std::size_t m_size = 0;
    std::string m_path;
    Status m_outcome;
};
