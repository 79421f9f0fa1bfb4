#include "shell/GCommonDialog.h"

#include "common/QtText.h"
#include "common/TextHelpers.h"
#include "shell/Services.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

namespace {
struct FilterEntry {
    std::string description;
    std::string pattern;
};

std::vector<FilterEntry> FilterEntries(std::string_view converted)
{
    std::vector<FilterEntry> entries;
    for (std::int32_t index = 1;; ++index) {
        const std::string pair = FilterPair(converted, index);
        // The closing NULs read as one more pair with no description.
        if (pair.empty() || pair.front() == '\0')
            return entries;
        const auto nul = pair.find('\0');
        entries.push_back({pair.substr(0, nul), nul == std::string::npos ? std::string() : pair.substr(nul + 1)});
    }
}

// The chooser wants "Description (pattern pattern)". Patterns are separated
// by ";" in the classic form, and "*.*" there means every file, also files
// without an extension.
QString ChooserFilter(const FilterEntry &entry)
{
    QStringList patterns;
    for (const QString &pattern : FromBytes(entry.pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = pattern.trimmed();
        patterns.append(trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
    }
    if (patterns.isEmpty())
        patterns.append(QStringLiteral("*"));
    QString description = FromBytes(entry.description).trimmed();
    // Descriptions usually repeat their pattern; show the one that applies.
    const QString shown = QStringLiteral("(") + FromBytes(entry.pattern) + QStringLiteral(")");
    if (description.endsWith(shown))
        description = description.chopped(shown.size()).trimmed();
    return description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
}
} // namespace

std::string ConvertFilter(std::string_view filter)
{
    std::string converted;
    converted.reserve(filter.size() + 2);
    for (char c : filter)
        converted.push_back(c == '|' || c == ':' ? '\0' : c);
    converted.append(2, '\0');
    return converted;
}

std::string FilterPair(std::string_view filter, std::int32_t index)
{
    std::size_t start = 0;
    while (index > 0 && start < filter.size()) {
        const std::size_t descriptionEnd = filter.find('\0', start);
        if (descriptionEnd == std::string_view::npos)
            return {};
        std::size_t patternEnd = filter.find('\0', descriptionEnd + 1);
        if (patternEnd == std::string_view::npos)
            patternEnd = filter.size();
        if (index == 1)
            return std::string(filter.substr(start, patternEnd - start));
        start = patternEnd + 1;
        --index;
    }
    return {};
}

std::int32_t OpenRequestFlags(bool multiSelect, bool readOnly, bool hideReadOnly, bool fileMustExist,
                              std::int32_t flags)
{
    std::int32_t bits = flags & ~(OpenFileFlags::EnableHook | OpenFileFlags::EnableTemplate);
    if (multiSelect)
        bits |= OpenFileFlags::AllowMultiSelect;
    if (readOnly)
        bits |= OpenFileFlags::ReadOnly;
    if (hideReadOnly)
        bits |= OpenFileFlags::HideReadOnly;
    if (fileMustExist)
        bits |= OpenFileFlags::FileMustExist;
    return bits;
}

GCommonDialog::GCommonDialog(FileChooser &chooser) : m_chooser(chooser)
{}

bool GCommonDialog::VBGetOpenFileName(std::string &Filename, std::string &FileTitle, bool FileMustExist,
                                      bool MultiSelect, bool &ReadOnly, bool HideReadOnly, std::string &Filter,
                                      std::int32_t &FilterIndex, const std::string &InitDir,
                                      const std::string &DlgTitle, const std::string &, QWidget *Owner,
                                      std::int32_t &flags, bool, QObject *)
{
    m_apiReturn = 0;
    m_extendedError = 0;
    const std::int32_t requestFlags = OpenRequestFlags(MultiSelect, ReadOnly, HideReadOnly, FileMustExist, flags);
    const std::string converted = ConvertFilter(Filter);

    std::optional<QString> chosen;
    // Names that would not fit the dialog's buffers are refused before it
    // opens, as the dialog itself would refuse them.
    if (Filename.size() <= OpenFileBufferSize && FileTitle.size() <= OpenFileBufferSize) {
        FileChooserRequest request;
        request.title = FromBytes(DlgTitle);
        request.initialDirectory = FromBytes(InitDir);
        for (const FilterEntry &entry : FilterEntries(converted))
            request.nameFilters.append(ChooserFilter(entry));
        request.selectedFilter = FilterIndex - 1;
        request.fileMustExist = FileMustExist;
        chosen = m_chooser.ChooseOpenFile(Owner, request);
        m_apiReturn = chosen && !chosen->isEmpty() ? 1 : 0;
    }
    m_eventSink = nullptr;

    if (m_apiReturn != 1) {
        Filename.clear();
        FileTitle.clear();
        flags = 0;
        FilterIndex = -1;
        Filter.clear();
        return false;
    }
    const QByteArray path = QFile::encodeName(*chosen);
    Filename = TrimAtNul(std::string_view(path.constData(), static_cast<std::size_t>(path.size())));
    const QByteArray title = QFile::encodeName(QFileInfo(*chosen).fileName());
    FileTitle = TrimAtNul(std::string_view(title.constData(), static_cast<std::size_t>(title.size())));
    flags = requestFlags;
    Filter = FilterPair(converted, FilterIndex);
    if (flags & OpenFileFlags::ReadOnly)
        ReadOnly = true;
    return true;
}
