#include "window/FocusLineEdit.h"

#include <QFocusEvent>

FocusLineEdit::FocusLineEdit(QWidget *parent) : QLineEdit(parent)
{}

void FocusLineEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    // A context menu or another application taking over does not move the
    // focus to another control of this window.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        emit LostFocus();
}
