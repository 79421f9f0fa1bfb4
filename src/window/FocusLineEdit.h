#pragma once

#include <QLineEdit>

// A text box that tells when the keyboard focus moves away to another control.
class FocusLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit FocusLineEdit(QWidget *parent = nullptr);

signals:
    void LostFocus();

protected:
    void focusOutEvent(QFocusEvent *event) override;
};
