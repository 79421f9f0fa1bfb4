#pragma once

#include <QPointer>

class Quillon;
class TextEntry;

// The message choice with its browse button and multi-line dialog, and the
// send option with the delay slider.
class MessageSourceControls {
public:
    explicit MessageSourceControls(Quillon &window);
    ~MessageSourceControls();

    void Message_Click();
    void CmdBrowseFile_Click();
    void SendOptions_Click();
    // The slider moved, by mouse or keys.
    void Slider1_Scroll();
    // The mouse button was released on the slider.
    void Slider1_MouseUp();

    // The multi-line dialog while it exists.
    TextEntry *TextEntryDialog() const;

private:
    void CloseOpenSourceFile();
    void ShowTextEntry();

    Quillon &w;
    QPointer<TextEntry> m_textEntry;
};
