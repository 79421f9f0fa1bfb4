#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class FileChooser;
class QObject;
class QWidget;

// Option bits of the open request, with the values the file dialogs have
// always used.
namespace OpenFileFlags {
inline constexpr std::int32_t ReadOnly = 0x1;
inline constexpr std::int32_t HideReadOnly = 0x4;
inline constexpr std::int32_t EnableHook = 0x20;
inline constexpr std::int32_t EnableTemplate = 0x40;
inline constexpr std::int32_t AllowMultiSelect = 0x200;
inline constexpr std::int32_t FileMustExist = 0x1000;
} // namespace OpenFileFlags

// The longest file name or title the dialog takes, in characters.
inline constexpr std::size_t OpenFileBufferSize = 260;

// "|" and ":" both end a part; the list ends with one more NUL.
std::string ConvertFilter(std::string_view filter);

// The index-th (1-based) "description NUL pattern" pair of a converted
// filter, without the pair's ending NUL; empty when there is no such pair.
std::string FilterPair(std::string_view filter, std::int32_t index);

// The option bits an open request carries: hook and template never pass.
std::int32_t OpenRequestFlags(bool multiSelect, bool readOnly, bool hideReadOnly, bool fileMustExist,
                              std::int32_t flags);

// The common file dialog with plain parameters; texts are UTF-8 bytes.
// Every use makes a new object for one call.
class GCommonDialog {
public:
    explicit GCommonDialog(FileChooser &chooser);

    // True when the user chose a file; the in-out parameters then describe
    // the choice, and are emptied (FilterIndex -1) when nothing was chosen.
    bool VBGetOpenFileName(std::string &Filename, std::string &FileTitle, bool FileMustExist, bool MultiSelect,
                           bool &ReadOnly, bool HideReadOnly, std::string &Filter, std::int32_t &FilterIndex,
                           const std::string &InitDir, const std::string &DlgTitle, const std::string &DefaultExt,
                           QWidget *Owner, std::int32_t &flags, bool Hook = false, QObject *EventSink = nullptr);

    std::int32_t APIReturn() const { return m_apiReturn; }
    std::int32_t ExtendedError() const { return m_extendedError; }

private:
    FileChooser &m_chooser;
    std::int32_t m_apiReturn = 0;
    std::int32_t m_extendedError = 0;
    QObject *m_eventSink = nullptr;
};
