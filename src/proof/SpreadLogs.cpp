#include "proof/SpreadLogs.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>

namespace {
// What a parsed document holds for each byte of its text, about.
constexpr std::size_t ParsedShare = 4;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The time `kubectl logs --timestamps` puts first: 2024-05-01T12:00:00.123456789Z.
bool StartsWithTime(std::string_view text)
{
    return text.size() > 10 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2]) && IsDigit(text[3]) &&
           text[4] == '-' && text[7] == '-' && text[10] == 'T';
}
} // namespace

void LogDocuments::Begin(std::string name)
{
    End();
    m_name = std::move(name);
    m_lineNumber = 0;
}

bool LogDocuments::Hold(std::size_t bytes)
{
    if (bytes > m_limits.held - std::min(m_held, m_limits.held)) {
        m_overflow = Overflow::Held;
        return false;
    }
    m_held += bytes;
    return true;
}

void LogDocuments::Feed(std::string_view bytes)
{
    if (m_overflow != Overflow::None)
        return;
    for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
        if (m_partial.size() + end > m_limits.line) {
            m_overflow = Overflow::Line;
            return;
        }
        if (m_partial.empty()) {
            Line(bytes.substr(0, end));
        } else {
            m_partial.append(bytes.substr(0, end));
            Line(m_partial);
            m_partial.clear();
        }
        bytes.remove_prefix(end + 1);
        if (m_overflow != Overflow::None)
            return;
    }
    if (m_partial.size() + bytes.size() > m_limits.line) {
        m_overflow = Overflow::Line;
        return;
    }
    // The line's bytes are held until it ends, then counted by what keeps
    // them; as they grow the string doubles, its old copy beside the new.
    if (m_held + 3 * (m_partial.size() + bytes.size()) > m_limits.held) {
        m_overflow = Overflow::Held;
        return;
    }
    m_partial.append(bytes);
}

void LogDocuments::End()
{
    if (!m_partial.empty()) {
        const std::string last = std::move(m_partial);
        m_partial.clear();
        Line(last);
    }
    for (auto &[prefix, pending] : m_pending) {
        Unreadable(pending);
        m_held -= pending.held;
    }
    m_pending.clear();
}

void LogDocuments::Line(std::string_view line)
{
    ++m_counts.lines;
    ++m_lineNumber;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::string_view prefix;
    if (line.starts_with('[')) {
        if (const std::size_t close = line.find("] "); close != std::string_view::npos) {
            prefix = line.substr(1, close - 1);
            line.remove_prefix(close + 2);
        }
    }
    if (StartsWithTime(line)) {
        const std::size_t space = line.find(' ');
        line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
    }
    auto pending = m_pending.find(prefix);
    if (line.starts_with('{')) {
        if (pending != m_pending.end()) {
            Unreadable(pending->second);
            Drop(pending);
        }
        std::string where = prefix.empty() ? m_name + ":" + std::to_string(m_lineNumber) : std::string(prefix);
        const std::size_t held = line.size() + prefix.size() + where.size();
        if (!Take(line, where, 1) && m_overflow == Overflow::None && Hold(held))
            m_pending.emplace(std::string(prefix), Pending{std::string(line), std::move(where), 1, held});
        return;
    }
    if (pending == m_pending.end()) {
        ++m_counts.otherLines;
        return;
    }
    Pending &document = pending->second;
    if (!Hold(line.size() + 1))
        return;
    document.held += line.size() + 1;
    document.text += '\n';
    document.text += line;
    ++document.lines;
    if (line.starts_with('}')) {
        if (!Take(document.text, document.where, document.lines))
            Unreadable(document);
        Drop(pending);
    }
}

void LogDocuments::Drop(PendingMap::iterator pending)
{
    m_held -= pending->second.held;
    m_pending.erase(pending);
}

void LogDocuments::Unreadable(Pending &pending)
{
    ++m_counts.unreadable;
    m_counts.unreadableLines += pending.lines;
}

bool LogDocuments::Take(std::string_view text, std::string where, std::uint64_t lines)
{
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject() || !Hold(text.size() * ParsedShare))
        return false;
    m_documents.push_back({std::move(where), document.object()});
    ++m_counts.documents;
    m_counts.documentLines += lines;
    return true;
}
