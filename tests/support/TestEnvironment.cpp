#include "support/TestEnvironment.h"

#include "common/SettingsFile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>

void IsolateSettingsStore()
{
    static QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("HOME", folder.path().toLocal8Bit());
}

void WriteSettingsStore(const QString &entries)
{
    SettingsFile file;
    QSettings &store = file.Store();
    store.remove(QString());
    for (const QString &entry : entries.split(u'|', Qt::SkipEmptyParts))
        store.setValue(entry.section(u'=', 0, 0), entry.section(u'=', 1, -1));
}

bool WaitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        // A short nested loop waits for events instead of spinning.
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void DeliverQueuedEvents()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

std::string NumberedPacket(int number, std::size_t size)
{
    std::string packet = "<" + std::to_string(number) + ">";
    packet.resize(size, static_cast<char>(number % 251));
    return packet;
}
