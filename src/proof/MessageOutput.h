#pragma once

#include "common/Status.h"

#include <string>
#include <string_view>

// The file that --output writes: every message on a line of its own, CR,
// LF, NUL and backslash written as \r \n \0 \\ so a line is one message; or
// raw, the message's bytes unchanged and a LF after each. Writes go through
// a large buffer.
class MessageOutput {
public:
    MessageOutput() = default;
    ~MessageOutput();
    MessageOutput(const MessageOutput &) = delete;
    MessageOutput &operator=(const MessageOutput &) = delete;

    // "-" is standard output.
    Status Open(const std::string &path, bool raw);
    bool IsOpen() const { return m_fd >= 0; }
    void Write(std::string_view message);
    // Failed once the file could not be opened or a write failed; nothing
    // is written after.
    const Status &Flush();
    const Status &Outcome() const { return m_outcome; }

private:
    void Close();

    int m_fd = -1;
    bool m_ownsFd = false;
    bool m_raw = false;
    std::string m_path;
    std::string m_buffer;
    Status m_outcome;
};

// The escaped form of one message, as MessageOutput writes it (without the LF).
void AppendEscapedLine(std::string &out, std::string_view message);
