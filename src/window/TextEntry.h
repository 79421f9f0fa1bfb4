#pragma once

#include "common/SendState.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// "Enter Multiline Text": edits the multi-line message. OK ends it with
// Accepted, and its owner keeps it for the next showing; an owner discards it
// when it ends any other way.
class TextEntry : public QDialog {
    Q_OBJECT
public:
    // pixelsPerTwip: the owner's scale, so both windows use one geometry.
    TextEntry(SendState &state, double pixelsPerTwip, QWidget *owner);

    void Form_Load();
    void Command1_Click();

    QPlainTextEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;

private:
    SendState &m_state;
};
