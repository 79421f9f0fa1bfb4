#pragma once

#include "common/SendState.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// "Enter Multiline Text": edits the multi-line message. OK keeps the dialog
// for the next showing; closing it any other way discards it.
class TextEntry : public QDialog {
    Q_OBJECT
public:
    // pixelsPerTwip: the owner's scale, so both windows use one geometry.
    TextEntry(SendState &state, double pixelsPerTwip, QWidget *owner);

    void Form_Load();
    void Command1_Click();

    QPlainTextEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;

public slots:
    void reject() override;

private:
    SendState &m_state;
};
