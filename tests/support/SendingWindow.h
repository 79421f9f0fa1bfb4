#pragma once

#include "handlers/StatusPanels.h"
#include "support/AnsweringServices.h"
#include "window/Quillon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QTimer>

#include <functional>
#include <memory>

// The real main window, loaded offscreen, with dialogs and clock answered by
// the test. Earlier windows saved their settings, so each starts from the
// same plain choices: UDP, "Send message once", no packet options, RFC 3164
// unframed, no TLS.
struct SendingWindow {
    SendingWindow(const QString &host = QStringLiteral("127.0.0.1"), quint16 port = 514)
        : window(std::make_unique<Quillon>(services.Get()))
    {
        window->Form_Load();
        window->Transport->setCurrentIndex(0);
        window->SendOptions->setCurrentIndex(0);
        window->SourcePortNumber->setEditText(QStringLiteral("Random port > 1023"));
        window->TargetIP->setEditText(host);
        window->PortNumber->setEditText(QString::number(port));
        window->Message->setEditText(QStringLiteral("test message"));
        for (QCheckBox *box : {window->BadPackets, window->NoPriority, window->SendHugePackets, window->AddCRLF,
                               window->ChkRFCMessages, window->ChkPriority})
            box->setChecked(false);
        window->FormatSettings = {};
        window->TlsOptions = {};
    }
    Quillon *operator->() { return window.get(); }
    QString Status() { return window->StatusBar1->PanelText(1); }
    bool FramesEnabled(bool enabled)
    {
        for (int i = 0; i <= 10; ++i)
            if (window->Frame1[i]->isEnabled() != enabled)
                return false;
        return true;
    }

    AnsweringServices services;
    std::unique_ptr<Quillon> window;
};

// Runs from the event loop while a handler waits in its loop: moves the test
// clock on and notes each new text of panel 1.
struct ClockDriver {
    ClockDriver(SendingWindow &w, int stepMs, std::function<void(int)> onTick = {})
    {
        QObject::connect(&timer, &QTimer::timeout, [this, &w, stepMs, onTick] {
            if (seen.isEmpty() || seen.back() != w.Status())
                seen.append(w.Status());
            // A wait that should have ended by other means still ends.
            w.services.clock.AdvanceMilliseconds(++ticks > 500 ? 20000 : stepMs);
            if (onTick)
                onTick(ticks);
        });
        timer.start(0);
    }
    QTimer timer;
    QStringList seen;
    int ticks = 0;
};
