#include "transport/UnixSocketFile.h"

#include "transport/AddressLookup.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// Only a socket file no socket is bound to any more refuses a connect; a
// live one of either type accepts it or answers that its type differs.
bool NobodyListens(const SocketAddress &address)
{
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    int result = 0;
    do
        result = ::connect(probe, address.Get(), address.length);
    while (result != 0 && errno == EINTR);
    const bool refused = result != 0 && errno == ECONNREFUSED;
    ::close(probe);
    return refused;
}
} // namespace

UnixSocketFile::~UnixSocketFile()
{
    Remove();
}

Status UnixSocketFile::Bind(int fd, const std::string &path)
{
    const AddressLookup address = UnixSocketAddress(path);
    if (!address.Ok())
        return Status::Failure("--socket: '" + path + "': " + address.errorText);
    struct stat found {};
    if (::lstat(path.c_str(), &found) == 0) {
        if (!S_ISSOCK(found.st_mode))
            return Status::Failure("--socket: '" + path + "' exists and is not a socket; it is left as it is");
        if (!NobodyListens(address.addresses.front()))
            return Status::Failure("--socket: '" + path + "' is the socket of a process that listens on it");
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return Status::Failure("--socket: cannot replace the stale socket '" + path + "': " + std::strerror(errno));
    }
    const SocketAddress &target = address.addresses.front();
    if (::bind(fd, target.Get(), target.length) != 0)
        return Status::Failure("--socket: cannot listen on '" + path + "': " + std::strerror(errno));
    struct stat made {};
    if (::lstat(path.c_str(), &made) == 0) {
        m_path = path;
        m_made = true;
        m_device = made.st_dev;
        m_inode = made.st_ino;
    }
    return {};
}

void UnixSocketFile::Remove()
{
    if (!m_made)
        return;
    m_made = false;
    struct stat now {};
    if (::lstat(m_path.c_str(), &now) == 0 && S_ISSOCK(now.st_mode) && now.st_dev == m_device && now.st_ino == m_inode)
        ::unlink(m_path.c_str());
}
