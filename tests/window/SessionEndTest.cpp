#include "support/WindowFixture.h"

#include <QFile>
#include <QProcess>

#include <signal.h>

namespace {
using SessionEndTest = WindowFixture;

// Whether the process has a handler of its own for number.
bool Catches(qint64 pid, int number)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (number - 1)) & 1;
    return false;
}

// The window program, ended as a session ends, writes its settings as File > Exit does.
TEST_F(SessionEndTest, SigtermAndSighupSaveTheSettings)
{
    for (const int number : {SIGTERM, SIGHUP}) {
        ClearStore();
        // Shown as port 1, and saved so; the other keys are written at close alone.
        Store({{"PortNumber", " 1 500"}});
        QProcess program;
        program.start(QStringLiteral(QUILLON_WINDOW_PATH), {});
        ASSERT_TRUE(program.waitForStarted()) << program.errorString().toStdString();
        ASSERT_TRUE(WaitUntil(
            [&] { return Catches(program.processId(), number) || program.state() != QProcess::Running; }, 120'000));
        ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), number), 0);
        ASSERT_TRUE(program.waitForFinished(120'000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << number;
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        QFile file(SettingsStore::StoreFileName());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << number;
        const QByteArray text = file.readAll();
        EXPECT_TRUE(text.contains("PortNumber=1\n") && text.contains("SpeedSetting=10\n")) << text.toStdString();
    }
}
} // namespace
