#include "window/TextEntry.h"

#include "common/QtText.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <cmath>

TextEntry::TextEntry(SendState &state, double pixelsPerTwip, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint),
      m_state(state)
{
    const auto px = [pixelsPerTwip](int twips) { return static_cast<int>(std::lround(twips * pixelsPerTwip)); };
    setObjectName(QStringLiteral("TextEntry"));
    setWindowTitle(QStringLiteral("Enter Multiline Text"));

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(px(90), px(120), px(5652), px(1572));
    Text1->setTabChangesFocus(true);

    Command1 = new QPushButton(QStringLiteral("&OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(px(2400), px(1800), px(972), px(492));
    // Enter on the focused button presses it; in the text box it stays a
    // line break, which the box takes before the dialog sees it.
    Command1->setAutoDefault(true);

    setTabOrder(Text1, Command1);
    setFixedSize(px(5835), px(2400));
    connect(Command1, &QPushButton::clicked, this, &TextEntry::Command1_Click);
    Form_Load();
}

void TextEntry::Form_Load()
{
    Text1->setPlainText(FromBytes(m_state.MultiLineText));
}

void TextEntry::Command1_Click()
{
    m_state.MultiLineText = ToBytes(Text1->toPlainText());
    accept();
}
