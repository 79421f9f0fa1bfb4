#include "cli/probe/LocalPort.h"

#include <QFile>
#include <QList>

namespace {
// TCP's LISTEN in /proc/net/tcp's st column.
constexpr const char *TcpListen = "0A";

bool BoundIn(const QString &table, int port, bool tcp)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.readLine(); // the header
    while (!file.atEnd()) {
        // "  0: 0100007F:15B2 00000000:0000 0A ..."
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() < 4)
            continue;
        const QByteArray &local = fields[1];
        const qsizetype colon = local.lastIndexOf(':');
        bool read = false;
        if (colon < 0 || local.mid(colon + 1).toInt(&read, 16) != port || !read)
            continue;
        if (!tcp || fields[3] == TcpListen)
            return true;
    }
    return false;
}
} // namespace

bool LocalPortBound(int port, bool tcp)
{
    const QString kind = tcp ? QStringLiteral("tcp") : QStringLiteral("udp");
    return BoundIn(QStringLiteral("/proc/net/") + kind, port, tcp) ||
           BoundIn(QStringLiteral("/proc/net/") + kind + QStringLiteral("6"), port, tcp);
}
