#include "common/InputFile.h"

#include "common/StopFlag.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// How long a read waits before it looks at the stop flag again.
constexpr int StopCheckMs = 100;
} // namespace

InputFile::~InputFile()
{
    if (m_owned && m_fd >= 0)
        ::close(m_fd);
}

Status InputFile::Open(const std::string &path)
{
    m_path = path;
    if (path == "-") {
        m_fd = STDIN_FILENO;
    } else {
        // Without O_NONBLOCK, opening a FIFO waits for a writer, and no signal ends that wait.
        m_fd = path.find('\0') != std::string::npos ? (errno = ENOENT, -1)
                                                    : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        m_owned = m_fd >= 0;
    }
    struct stat info {};
    const int reason = m_fd < 0 ? errno : ::fstat(m_fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (reason != 0)
        return Status::Failure("cannot read '" + path + "': " + std::strerror(reason));
    m_regular = S_ISREG(info.st_mode);
    m_size = m_regular ? static_cast<std::size_t>(info.st_size) : 0;
    return {};
}

std::optional<std::size_t> InputFile::Read(char *buffer, std::size_t size)
{
    for (;;) {
        if (StopRequested()) {
            m_stopped = true;
            return std::nullopt;
        }
        if (!m_regular) {
            // A FIFO that never had a writer shows nothing here, rather than its end.
            pollfd watched{m_fd, POLLIN, 0};
            const int ready = ::poll(&watched, 1, StopCheckMs);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
        }
        const ssize_t got = ::read(m_fd, buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno == EINTR || errno == EAGAIN)
            continue;
        m_outcome = Status::Failure("cannot read '" + m_path + "': " + std::strerror(errno));
        return std::nullopt;
    }
}
