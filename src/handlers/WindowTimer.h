#pragma once

#include <QObject>
#include <QTimer>

// A window timer with an interval and an enabled flag: it ticks every
// interval while enabled and the interval is above 0; an interval of 0 stops
// it even while enabled. A new interval, or enabling, restarts the count.
class WindowTimer : public QObject {
    Q_OBJECT
public:
    explicit WindowTimer(int interval = 0, QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void SetInterval(int interval);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    // True while ticks would come.
    bool IsTicking() const { return m_timer.isActive(); }

signals:
    void Timer();

private:
    void Apply();

    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = true;
};
