#pragma once

#include "common/Status.h"

#include <sys/types.h>

#include <string>

// The file of a Unix socket a receiver listens on: it binds a path only
// where no live socket and no other file is, and removes only the file it
// made itself, so a collector's socket or someone's file is never touched.
class UnixSocketFile {
public:
    UnixSocketFile() = default;
    ~UnixSocketFile();
    UnixSocketFile(const UnixSocketFile &) = delete;
    UnixSocketFile &operator=(const UnixSocketFile &) = delete;

    // Binds fd to path. A socket file nothing listens on any more, left by
    // a receiver that died, is replaced; a socket some process listens on,
    // or a file that is not a socket, is refused.
    Status Bind(int fd, const std::string &path);
    // Removes the file if it is still the one Bind made.
    void Remove();

private:
    std::string m_path;
    bool m_made = false;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};
