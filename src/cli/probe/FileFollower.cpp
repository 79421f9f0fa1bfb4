#include "cli/probe/FileFollower.h"

#include "cli/recv/MessageIntake.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::size_t MaxLine = 1 << 20;
constexpr std::size_t ReadSize = 1 << 20;
} // namespace

FileFollower::FileFollower(std::string path, MessageIntake &intake, const Clock &clock)
    : m_path(std::move(path)), m_intake(intake), m_clock(clock), m_lines(StreamFraming::Lf, MaxLine),
      m_buffer(ReadSize, '\0')
{}

FileFollower::~FileFollower()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_notify >= 0)
        ::close(m_notify);
}

bool FileFollower::Open(std::string &error)
{
    const QFileInfo file(QString::fromStdString(m_path));
    if (file.isDir()) {
        error = "--receive file:" + m_path + ": is a folder, not a file";
        return false;
    }
    const std::string folder = file.absolutePath().toStdString();
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_notify < 0 ||
        ::inotify_add_watch(m_notify, folder.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        error = "--receive file:" + m_path + ": cannot watch the folder '" + folder + "': " + std::strerror(errno);
        return false;
    }
    // Lines written before the probe began are no step's; a file made later
    // is read from its start.
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0)
        m_offset = ::lseek(m_fd, 0, SEEK_END);
    return true;
}

void FileFollower::RunOnce(int timeoutMs)
{
    pollfd waiting{m_notify, POLLIN, 0};
    if (::poll(&waiting, 1, timeoutMs) > 0) {
        char events[4096];
        while (::read(m_notify, events, sizeof events) > 0) {
        }
    }
    ReadNew();
}

void FileFollower::ReadNew()
{
    if (m_fd < 0) {
        m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) == 0 && info.st_size < m_offset) {
        m_lines.Finish(*this);
        m_lines = FrameSplitter(StreamFraming::Lf, MaxLine);
        m_offset = 0;
    }
    for (;;) {
        const ssize_t got = ::pread(m_fd, m_buffer.data(), m_buffer.size(), m_offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        m_offset += got;
        m_nowUs = m_clock.EpochMicroseconds();
        m_lines.Feed(std::string_view(m_buffer.data(), static_cast<std::size_t>(got)), *this);
    }
}

void FileFollower::Finish()
{
    m_lines.Finish(*this);
}

void FileFollower::OnFrame(std::string_view line)
{
    m_intake.Take(line, m_nowUs);
}
