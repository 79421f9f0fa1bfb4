#pragma once

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

    // "-" is standard output. False with a message in error().
    [[nodiscard]] bool Open(const std::string &path, bool raw);
    bool IsOpen() const { return m_fd >= 0; }
    void Write(std::string_view message);
    // False once a write failed; the reason is in Error().
    [[nodiscard]] bool Flush();
    bool Failed() const { return !m_error.empty(); }
    const std::string &Error() const { return m_error; }

private:
    void Close();

    int m_fd = -1;
    bool m_ownsFd = false;
    bool m_raw = false;
    std::string m_path;
    std::string m_buffer;
    std::string m_error;
};

// The escaped form of one message, as MessageOutput writes it (without the LF).
void AppendEscapedLine(std::string &out, std::string_view message);
