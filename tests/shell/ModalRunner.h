#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Opens something modal and runs `act` on it once it is up. Should `act`
// leave it open, it is closed anyway so that the test fails instead of
// hanging; the result says whether `act` closed it.
inline bool RunWhileModal(const std::function<void()> &open, const std::function<void(QWidget *)> &act)
{
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            act(modal);
    });
    bool rescued = false;
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            rescued = modal->close();
    });
    rescue.start(5000);
    open();
    return !rescued;
}
