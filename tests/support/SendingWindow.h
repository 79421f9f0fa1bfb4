#pragma once

#include "support/AnsweringServices.h"
#include "window/Quillon.h"
#include "window/StatusPanels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

// The real main window, loaded on the offscreen platform, with dialogs and
// the clock answered by the test. Settings come from the isolated store.
class SendingWindow {
public:
    SendingWindow()
    {
        window = std::make_unique<Quillon>(services.Get());
        window->Form_Load();
        // Earlier windows of the same test program saved their settings;
        // start every test from the same plain choices.
        SelectTransport(0);
        SelectSendOption(0);
        SetSourcePort(QStringLiteral("Random port > 1023"));
        for (QCheckBox *box : {window->BadPackets, window->NoPriority, window->SendHugePackets, window->AddCRLF,
                               window->ChkRFCMessages, window->ChkPriority})
            box->setChecked(false);
    }

    Quillon &operator*() { return *window; }
    Quillon *operator->() { return window.get(); }

    void SetTarget(const QString &host, quint16 port)
    {
        window->TargetIP->setEditText(host);
        window->PortNumber->setEditText(QString::number(port));
    }
    void SetSourcePort(const QString &text) { window->SourcePortNumber->setEditText(text); }
    void SetMessage(const QString &text) { window->Message->setEditText(text); }
    // Selecting by code runs the list's handler, as a user's choice would.
    void SelectSendOption(int index) { window->SendOptions->setCurrentIndex(index); }
    void SelectTransport(int index) { window->Transport->setCurrentIndex(index); }

    AnsweringServices services;
    std::unique_ptr<Quillon> window;
};

// Moves the test clock on from the event loop, while a handler waits in its
// loop, and notes every text panel 1 shows meanwhile.
class ClockDriver {
public:
    ClockDriver(SendingWindow &window, int stepMilliseconds) : m_window(window)
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this, stepMilliseconds] {
            const QString text = m_window->StatusBar1->PanelText(1);
            if (seen.isEmpty() || seen.back() != text)
                seen.append(text);
            m_window.services.clock.AdvanceMilliseconds(stepMilliseconds);
            if (onTick)
                onTick();
        });
        m_timer.start();
    }
    void Stop() { m_timer.stop(); }

    QStringList seen;
    std::function<void()> onTick;

private:
    SendingWindow &m_window;
    QTimer m_timer;
};
