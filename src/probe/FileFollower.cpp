#include "probe/FileFollower.h"

#include "proof/MessageIntake.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::size_t ReadSize = 1 << 20;
// A turn reads at most this much, so the receiving thread still answers a
// step's question and sees a stop while a collector writes faster than it.
constexpr int ReadsPerTurn = 16;

// What a path that is no regular file is, in the user's words.
const char *KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}
} // namespace

FileFollower::FileFollower(std::string path, MessageIntake &intake, const Clock &clock)
    : m_path(std::move(path)), m_intake(intake), m_clock(clock), m_buffer(ReadSize, '\0')
{}

FileFollower::~FileFollower()
{
    for (const int fd : {m_current.fd, m_previous.fd, m_notify})
        if (fd >= 0)
            ::close(fd);
}

Status FileFollower::Open()
{
    const std::string flag = "--receive file:" + m_path;
    struct stat named {};
    if (::stat(m_path.c_str(), &named) == 0 && !S_ISREG(named.st_mode))
        return Status::Failure(flag + ": is " + KindOf(named.st_mode) + ", not a file a collector writes");
    const std::string folder = QFileInfo(QString::fromStdString(m_path)).absolutePath().toStdString();
    m_notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_notify < 0 || ::inotify_add_watch(m_notify, folder.c_str(),
                                            IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                                IN_CLOSE_WRITE | IN_ATTRIB) < 0)
        return Status::Failure(flag + ": cannot watch the folder '" + folder + "': " + std::strerror(errno));
    // Lines written before the probe began are no step's; a file made later
    // is read from its start.
    FollowName();
    if (m_current.fd >= 0)
        m_current.offset = ::lseek(m_current.fd, 0, SEEK_END);
    return {};
}

void FileFollower::RunOnce(int timeoutMs)
{
    pollfd waiting{m_notify, POLLIN, 0};
    if (::poll(&waiting, 1, m_pending ? 0 : timeoutMs) > 0) {
        char events[4096];
        while (::read(m_notify, events, sizeof events) > 0) {
        }
    }
    FollowName();
    // The file the name left first: its lines were written before the new one's.
    const bool previousPending = ReadNew(m_previous);
    m_pending = ReadNew(m_current) || previousPending;
}

void FileFollower::FollowName()
{
    struct stat named {};
    // Gone or no regular file: what is open is read on until a file comes back.
    if (::stat(m_path.c_str(), &named) != 0 || !S_ISREG(named.st_mode))
        return;
    if (m_current.fd >= 0 && named.st_dev == m_current.device && named.st_ino == m_current.inode) {
        // The collector writes to the new file now, so the old one is whole
        // once read to its end.
        if (m_previous.fd >= 0 && named.st_size > 0) {
            for (int read = 0; read < ReadsPerTurn && ReadNew(m_previous); ++read) {
            }
            Close(m_previous);
        }
        return;
    }
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return;
    }
    if (m_current.fd >= 0) {
        // A second rotation before the first one's file was done with.
        if (m_previous.fd >= 0)
            Close(m_previous);
        m_previous = std::exchange(m_current, Followed{});
    }
    m_current.fd = fd;
    m_current.device = opened.st_dev;
    m_current.inode = opened.st_ino;
}

bool FileFollower::ReadNew(Followed &file)
{
    if (file.fd < 0)
        return false;
    struct stat info {};
    if (::fstat(file.fd, &info) == 0 && info.st_size < file.offset) {
        // Cut short in place: its end was its last line.
        file.lines.Finish(*this);
        m_doneLines += file.lines.Counts();
        file.lines = Followed{}.lines;
        file.offset = 0;
    }
    for (int reads = 0; reads < ReadsPerTurn; ++reads) {
        const ssize_t got = ::pread(file.fd, m_buffer.data(), m_buffer.size(), file.offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        file.offset += got;
        m_nowUs = m_clock.EpochMicroseconds();
        file.lines.Feed(std::string_view(m_buffer.data(), static_cast<std::size_t>(got)), *this);
    }
    return true;
}

void FileFollower::Close(Followed &file)
{
    ReadNew(file);
    file.lines.Finish(*this);
    m_doneLines += file.lines.Counts();
    ::close(file.fd);
    file = Followed{};
}

void FileFollower::Finish()
{
    m_previous.lines.Finish(*this);
    m_current.lines.Finish(*this);
}

ReceiveCounts FileFollower::Counts() const
{
    ReceiveCounts counts;
    counts.frames = m_doneLines;
    counts.frames += m_previous.lines.Counts();
    counts.frames += m_current.lines.Counts();
    return counts;
}

void FileFollower::OnFrame(std::string_view line)
{
    m_intake.Take(line, m_nowUs);
}
