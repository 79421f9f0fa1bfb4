#pragma once

#include <QJsonObject>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// A JSON object found in a log, and where: the pod and container of a
// `kubectl logs --prefix` line, or the input and line number.
struct LogDocument {
    std::string where;
    QJsonObject object;
};

// What the lines of the inputs were. Every line is one of: part of a
// document read, part of one that could not be read, or another line.
struct LogLineCounts {
    std::uint64_t lines = 0;
    std::uint64_t documents = 0;
    std::uint64_t documentLines = 0;
    std::uint64_t unreadable = 0; // documents begun but not read
    std::uint64_t unreadableLines = 0;
    std::uint64_t otherLines = 0;
};

// The JSON objects in texts as `kubectl logs` gives them, the pods' output
// and error streams merged: a line may start with the --prefix
// "[pod/NAME/CONTAINER] " and then the --timestamps time. A document is a
// line that starts with '{', or runs from such a line to one that starts
// with '}' (as jq prints). Other lines (listening lines, warnings) are
// counted and passed over, and a document begun but not ended gives way to
// the next line that starts with '{', so no whole document is lost to one
// broken before it.
class LogDocuments {
public:
    // What the documents, those begun and a line not ended may hold
    // together, as read (a parsed document is counted at a few times its
    // text), and how long a line may be.
    struct Limits {
        std::size_t held = SIZE_MAX;
        std::size_t line = SIZE_MAX;
    };
    enum class Overflow { None, Held, Line };

    LogDocuments() = default;
    explicit LogDocuments(Limits limits) : m_limits(limits) {}

    // Starts an input; name goes into where for lines without a prefix.
    void Begin(std::string name);
    // Any cut of an input gives the same documents. Once past a limit the
    // rest is passed over and Overflowed() says which.
    void Feed(std::string_view bytes);
    Overflow Overflowed() const { return m_overflow; }
    // The end of the input: a last line without LF counts, and documents
    // not ended are unreadable.
    void End();

    const std::vector<LogDocument> &Documents() const { return m_documents; }
    const LogLineCounts &Counts() const { return m_counts; }

private:
    struct Pending {
        std::string text;
        std::string where;
        std::uint64_t lines = 0;
        // Counted against the limit until it is read or given up.
        std::size_t held = 0;
    };
    using PendingMap = std::map<std::string, Pending, std::less<>>;

    void Line(std::string_view line);
    void Unreadable(Pending &pending);
    bool Take(std::string_view text, std::string where, std::uint64_t lines);

    bool Hold(std::size_t bytes);
    void Drop(PendingMap::iterator pending);

    Limits m_limits;
    Overflow m_overflow = Overflow::None;
    std::size_t m_held = 0;
    std::string m_name;
    std::uint64_t m_lineNumber = 0;
    std::string m_partial;
    // Documents begun, one for each prefix, as pods' lines may interleave.
    PendingMap m_pending;
    std::vector<LogDocument> m_documents;
    LogLineCounts m_counts;
};
