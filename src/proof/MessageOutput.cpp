#include "proof/MessageOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr std::size_t FlushAt = 1 << 20;
}

MessageOutput::~MessageOutput()
{
    // The run has ended and read Outcome() after its own Flush: none is left to tell.
    Flush();
    Close();
}

void MessageOutput::Close()
{
    if (m_ownsFd && m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

Status MessageOutput::Open(const std::string &path, bool raw)
{
    Close();
    m_raw = raw;
    m_path = path;
    m_outcome = {};
    if (path == "-") {
        m_fd = STDOUT_FILENO;
        m_ownsFd = false;
        return m_outcome;
    }
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_ownsFd = true;
    if (m_fd < 0)
        m_outcome = Status::Failure("cannot write '" + path + "': " + std::strerror(errno));
    else
        m_buffer.reserve(FlushAt + 4096);
    return m_outcome;
}

void AppendEscapedLine(std::string &out, std::string_view message)
{
    std::size_t from = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        const char *escaped = c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\0' ? "\\0" : nullptr;
        if (!escaped)
            continue;
        out.append(message.data() + from, i - from);
        out.append(escaped, 2);
        from = i + 1;
    }
    out.append(message.data() + from, message.size() - from);
}

void MessageOutput::Write(std::string_view message)
{
    if (m_fd < 0 || !m_outcome)
        return;
    if (m_raw)
        m_buffer.append(message);
    else
        AppendEscapedLine(m_buffer, message);
    m_buffer.push_back('\n');
    // A failure stays in Outcome(), which the run checks.
    if (m_buffer.size() >= FlushAt)
        Flush();
}

const Status &MessageOutput::Flush()
{
    std::size_t done = 0;
    while (m_fd >= 0 && m_outcome && done < m_buffer.size()) {
        const ssize_t wrote = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            m_outcome = Status::Failure("cannot write '" + m_path + "': " + std::strerror(wrote < 0 ? errno : ENOSPC));
        else
            done += static_cast<std::size_t>(wrote);
    }
    m_buffer.clear();
    return m_outcome;
}
