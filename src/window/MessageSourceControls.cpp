#include "window/MessageSourceControls.h"

#include "common/QtText.h"
#include "common/TextHelpers.h"
#include "engine/MessageComposer.h"
#include "handlers/WindowTimer.h"
#include "shell/GCommonDialog.h"
#include "shell/Services.h"
#include "sources/SourceFile.h"
#include "window/TextEntry.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

namespace {
constexpr int ContinuousSendOption = 3;

bool IsFileEntry(const std::string &text)
{
    return text == MessageEntries::TabDelimitedFile || text == MessageEntries::HexFile ||
           text == MessageEntries::CaptureFile;
}
} // namespace

MessageSourceControls::MessageSourceControls(const Controls &controls) : w(controls)
{}

MessageSourceControls::~MessageSourceControls()
{
    delete m_textEntry.data();
}

TextEntry *MessageSourceControls::TextEntryDialog() const
{
    return m_textEntry.data();
}

void MessageSourceControls::Message_Click()
{
    const std::string text = ToBytes(w.Message->currentText());
    if (text == MessageEntries::MultiLine) {
        // At start-up the window is still hidden, and no dialog may open then.
        if (w.Window->isVisible())
            ShowTextEntry();
    } else {
        w.CmdBrowseFile->setEnabled(IsFileEntry(text));
    }
    CloseOpenSourceFile();
}

void MessageSourceControls::ShowTextEntry()
{
    if (!m_textEntry)
        m_textEntry = new TextEntry(w.State, w.PixelsPerTwip, w.Window);
    // Closed without OK: the next showing loads the stored text afresh.
    if (m_textEntry->exec() != QDialog::Accepted)
        delete m_textEntry.data();
}

void MessageSourceControls::CmdBrowseFile_Click()
{
    CloseOpenSourceFile();

    GCommonDialog dialog(*w.services.fileChooser);
    std::string filename;
    std::string fileTitle;
    bool readOnly = false;
    std::string filter = "All files (*.*)|*.*|Text files (*.txt)|*.txt";
    std::int32_t filterIndex = 1;
    std::int32_t flags = 0;
    const QByteArray programFolder = QFile::encodeName(QCoreApplication::applicationDirPath());
    if (dialog.VBGetOpenFileName(filename, fileTitle, true, false, readOnly, false, filter, filterIndex,
                                 std::string(programFolder.constData(), static_cast<std::size_t>(programFolder.size())),
                                 "Please select a file to read messages from", std::string(), w.Window, flags))
        w.State.SourceFileName = TrimSpaces(filename);
}

void MessageSourceControls::SendOptions_Click()
{
    const bool continuous = w.SendOptions->currentIndex() == ContinuousSendOption;
    w.Slider1->setEnabled(continuous);
    w.Frame1_11->setEnabled(continuous);
}

void MessageSourceControls::Slider1_Scroll()
{
    // Only a running periodic or continuous send takes the new pace.
    if (w.tmrSend->Interval() > 0)
        w.tmrSend->SetInterval(w.Slider1->value());
}

void MessageSourceControls::Slider1_MouseUp()
{
    w.Frame1_11->setTitle(QStringLiteral("Inter-message delay (%1 ms)").arg(w.Slider1->value()));
}

void MessageSourceControls::CloseOpenSourceFile()
{
    if (w.State.SourceFileHandle > 0)
        w.Source.CloseSourceFile();
    w.State.SourceFileHandle = 0;
}
