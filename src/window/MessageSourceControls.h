#pragma once

#include <QPointer>

class QComboBox;
class QGroupBox;
class QPushButton;
class QSlider;
class QWidget;
class SourceFile;
class TextEntry;
class WindowTimer;
struct SendState;
struct Services;

// The message choice with its browse button and multi-line dialog, and the
// send option with the delay slider.
class MessageSourceControls {
public:
    // The window's controls these handlers work on, by their window names.
    struct Controls {
        QWidget *Window; // parent of the dialogs; hidden while loading
        QComboBox *Message;
        QPushButton *CmdBrowseFile;
        QComboBox *SendOptions;
        QSlider *Slider1;
        QGroupBox *Frame1_11; // the inter-message delay frame
        WindowTimer *tmrSend;
        SourceFile &Source;
        SendState &State;
        const Services &services;
        const double &PixelsPerTwip;
    };

    explicit MessageSourceControls(const Controls &controls);
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

    const Controls w;
    QPointer<TextEntry> m_textEntry;
};
