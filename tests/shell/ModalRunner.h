#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Opens something modal and runs `act` on the modal window once it is up.
// Should `act` leave it open, it is closed anyway, so that the test reports
// instead of hanging; the result says whether `act` closed it.
inline bool RunWhileModal(const std::function<void()> &open, const std::function<void(QWidget *)> &act)
{
    bool rescued = false;
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget())
            act(modal);
    });
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            rescued = true;
            modal->close();
        }
    });
    rescue.start(5000);
    open();
    return !rescued;
}

// Where a key press goes: the focused control of the modal window, or the window.
inline QWidget *KeyTarget(QWidget *window)
{
    QWidget *focus = QApplication::focusWidget();
    return focus && window->isAncestorOf(focus) ? focus : window;
}
