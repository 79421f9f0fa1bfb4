#include "handlers/Statistics.h"

#include "common/Clock.h"
#include "handlers/SendControls.h"
#include "handlers/StatusPanels.h"
#include "sources/SourceFile.h"

namespace {
QString TwoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}
} // namespace

Statistics::Statistics(SendControls &controls) : w(controls)
{}

void Statistics::ShowCount()
{
    const std::int32_t sent = w.State().MessagesSent;
    const char *unit = sent == 1 ? " message sent " : " messages sent ";
    w.StatusBar1->SetPanelText(2, QString::number(sent) + QLatin1String(unit));
}

void Statistics::StatsUpdate_Timer()
{
    SendState &state = w.State();
    ShowCount();
    // Computed in 64 bits: the counters may hold any value after a bad settings load.
    const qint64 rate = qint64(state.MessagesSent) - qint64(state.LastMessagesSent);
    w.StatusBar1->SetPanelText(3, QString::number(rate) + QStringLiteral(" MPS "));
    // A second with nothing sent says nothing new: the tick runs on after the
    // peer closed the session, and that news must stay in view.
    if (rate != 0)
        w.StatusBar1->SetPanelText(1, QStringLiteral("Status : Message Sent OK."));
    state.LastMessagesSent = state.MessagesSent;
}

void Statistics::ShowFinalCount()
{
    ShowCount();
    w.StatusBar1->SetPanelText(3, QStringLiteral("0 MPS "));
    w.State().LastMessagesSent = w.State().MessagesSent;
}

void Statistics::UpdateClock_Timer()
{
    const LocalDateTime now = w.services().clock->Now();
    const QString date = TwoDigits(now.day) + QLatin1Char('-') + QLatin1String(MonthAbbreviation(now.month)) +
                         QLatin1Char('-') + QStringLiteral("%1").arg(now.year, 4, 10, QLatin1Char('0'));
    const QString time = TwoDigits(now.hour) + QLatin1Char(':') + TwoDigits(now.minute);
    w.StatusBar1->SetPanelText(5, QLatin1Char(' ') + time + QLatin1Char(' '));
    w.StatusBar1->SetPanelText(6, QLatin1Char(' ') + date + QLatin1Char(' '));
}

void Statistics::CmdReset_Click()
{
    SendState &state = w.State();
    state.SequenceNumber = 0;
    state.MessagesSent = 0;
    state.LastMessagesSent = 0;
    w.StatusBar1->SetPanelText(2, QStringLiteral("0 messages sent "));
    w.StatusBar1->SetPanelText(3, QStringLiteral("0 MPS "));
    w.Source->CloseSourceFile();
}
