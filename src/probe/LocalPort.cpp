#include "probe/LocalPort.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QSet>

#include <unistd.h>

namespace {
// TCP's LISTEN in /proc/net/tcp's st column.
constexpr const char *TcpListen = "0A";
// The socket's inode, which its holders' /proc/PID/fd links name.
constexpr int InodeField = 9;

// The inodes of the sockets bound to the port in one table.
void BoundIn(const QString &table, int port, bool tcp, QSet<QByteArray> &inodes)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.readLine(); // the header
    while (!file.atEnd()) {
        // "  0: 0100007F:15B2 00000000:0000 0A ..."
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() <= InodeField)
            continue;
        const QByteArray &local = fields[1];
        const qsizetype colon = local.lastIndexOf(':');
        bool read = false;
        if (colon < 0 || local.mid(colon + 1).toInt(&read, 16) != port || !read)
            continue;
        if (!tcp || fields[3] == TcpListen)
            inodes.insert(fields[InodeField]);
    }
}

QSet<QByteArray> BoundInodes(int port, bool tcp)
{
    const QString kind = tcp ? QStringLiteral("tcp") : QStringLiteral("udp");
    QSet<QByteArray> inodes;
    BoundIn(QStringLiteral("/proc/net/") + kind, port, tcp, inodes);
    BoundIn(QStringLiteral("/proc/net/") + kind + QStringLiteral("6"), port, tcp, inodes);
    return inodes;
}
} // namespace

bool LocalPortBound(int port, TransportKind transport)
{
    return !BoundInodes(port, IsStream(transport)).isEmpty();
}

std::vector<int> LocalPortHolders(int port, TransportKind transport)
{
    QSet<QByteArray> links;
    for (const QByteArray &inode : BoundInodes(port, IsStream(transport)))
        links.insert("socket:[" + inode + "]");
    std::vector<int> holders;
    if (links.isEmpty())
        return holders;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int value = pid.toInt(&number);
        if (!number)
            continue;
        const QDir fds(QStringLiteral("/proc/") + pid + QStringLiteral("/fd"));
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            char target[64];
            const ssize_t length = ::readlink(fds.filePath(fd).toLocal8Bit().constData(), target, sizeof target);
            if (length > 0 && links.contains(QByteArray(target, length))) {
                holders.push_back(value);
                break;
            }
        }
    }
    return holders;
}
