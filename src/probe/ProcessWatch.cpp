#include "probe/ProcessWatch.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>

#include <unistd.h>

namespace {
QByteArray ReadProcFile(int pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
} // namespace

std::optional<ProcReading> ProcReader::Read(int pid) const
{
    const QByteArray stat = ReadProcFile(pid, "stat");
    const QByteArray statm = ReadProcFile(pid, "statm");
    // The name is in parentheses and may hold spaces and parentheses itself.
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open || statm.isEmpty())
        return std::nullopt;
    // After the name: state (field 3) ... utime (14), stime (15).
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    const QList<QByteArray> pages = statm.split(' ');
    if (fields.size() < 13 || pages.size() < 2 || fields[0] == "Z")
        return std::nullopt;
    static const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    static const std::int64_t pageBytes = ::sysconf(_SC_PAGESIZE);
    ProcReading reading;
    reading.name = stat.mid(open + 1, close - open - 1).toStdString();
    reading.cpuSeconds = static_cast<double>(fields[11].toULongLong() + fields[12].toULongLong()) / ticks;
    reading.rssBytes = pages[1].toLongLong() * pageBytes;
    return reading;
}

double ProbeClock::Seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

ProcessWatch::ProcessWatch(std::vector<int> pids, const ProcReader &reader, const ProbeClock &clock)
    : m_pids(std::move(pids)), m_reader(reader), m_clock(clock)
{}

ProcessWatch::~ProcessWatch()
{
    Stop();
}

void ProcessWatch::Start()
{
    if (m_pids.empty())
        return;
    Sample();
    m_thread = std::thread([this] {
        std::unique_lock lock(m_mutex);
        auto next = std::chrono::steady_clock::now();
        while (!m_stop) {
            next += std::chrono::seconds(1);
            if (m_wake.wait_until(lock, next, [this] { return m_stop; }))
                break;
            lock.unlock();
            Sample();
            lock.lock();
        }
    });
}

void ProcessWatch::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ProcessWatch::Sample()
{
    for (const int pid : m_pids) {
        const std::optional<ProcReading> reading = m_reader.Read(pid);
        if (!reading)
            continue;
        const double now = m_clock.Seconds();
        std::lock_guard lock(m_mutex);
        const auto last = m_last.find(pid);
        // The first reading has no interval to share the CPU time over.
        if (last != m_last.end() && now > last->second.seconds)
            m_samples.push_back(
                {now, pid, reading->name,
                 std::max(0.0, (reading->cpuSeconds - last->second.cpuSeconds) / (now - last->second.seconds) * 100),
                 reading->rssBytes});
        m_last[pid] = {now, reading->cpuSeconds};
    }
}

std::vector<WatchSample> ProcessWatch::Samples() const
{
    std::lock_guard lock(m_mutex);
    return m_samples;
}

std::vector<ProcessFigures> ProcessWatch::Between(double from, double to) const
{
    std::lock_guard lock(m_mutex);
    std::vector<ProcessFigures> figures;
    for (const int pid : m_pids) {
        ProcessFigures process;
        process.pid = pid;
        int count = 0;
        for (const WatchSample &sample : m_samples) {
            if (sample.pid != pid || sample.seconds < from || sample.seconds > to)
                continue;
            process.name = sample.name;
            process.cpuPercent += sample.cpuPercent;
            process.rssBytes = std::max(process.rssBytes, sample.rssBytes);
            ++count;
        }
        if (count == 0)
            continue;
        process.cpuPercent /= count;
        figures.push_back(process);
    }
    return figures;
}
