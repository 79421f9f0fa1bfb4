#include "handlers/WindowTimer.h"

WindowTimer::WindowTimer(int interval, QObject *parent) : QObject(parent), m_interval(interval)
{
    // A precise timer keeps the continuous pace at short delays.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WindowTimer::Timer);
    Apply();
}

void WindowTimer::SetInterval(int interval)
{
    m_interval = interval;
    Apply();
}

void WindowTimer::SetEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Apply();
}

void WindowTimer::Apply()
{
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
    else
        m_timer.stop();
}
