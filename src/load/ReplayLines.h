#pragma once

#include "common/Status.h"
#include "sources/ReplayFile.h"

#include <cstdint>
#include <optional>
#include <string>

// The file a sender replays, which of its parts it takes, and whether it
// starts over at the end.
struct ReplayLane {
    std::string path;
    bool loop = false;
    std::uint64_t part = 0;
    std::uint64_t parts = 1;
    // In the file's time: a longer gap between lines is cut to it; 0: none.
    std::int64_t longestGapUs = 0;
    // A line without a time joins the timed line before it, as one message.
    bool joined = true;
};

// The lines of a replayed file (--replay) that fall to one sender, in the
// file's order: line i of each pass goes to part i mod parts, so shards and
// threads each send their own lines at their own times and together the
// file's. Empty lines carry no message and are passed over, as logger -f
// does. The pacing and the messages each read the file through one of these.
// Joined, the lines without a time after a timed one (a stack trace's) go
// with it as one message, each after an LF, up to ReplayFile::LongestLine
// bytes; the rest go on as a message of their own. Lines before the file's
// first time go one by one.
class ReplayLines {
public:
    explicit ReplayLines(const ReplayLane &lane);

    // False at the end (with --loop only when a whole pass had no line for
    // this part), or when the file failed: Outcome() then says why.
    bool Next(ReplayLine &line);
    const Status &Outcome() const { return m_outcome; }
    const std::string &Path() const { return m_path; }
    // Of the whole file read so far, every part's lines included.
    std::uint64_t GapsCut() const { return m_file.GapsCut(); }
    std::uint64_t WentBack() const { return m_file.WentBack(); }
    // Joined messages that reached the longest a line may be, so that the
    // lines after went as a message of their own.
    std::uint64_t JoinsSplit() const { return m_joinsSplit; }

    // The current year: an RFC 3164 time has none.
    static int ReferenceYear();

private:
    ReplayFile::Read Gather(ReplayLine &line);
    void KeepAhead(const ReplayLine &line, bool continues);

    ReplayFile m_file;
    std::string m_path;
    std::uint64_t m_part;
    std::uint64_t m_parts;
    bool m_loop;
    std::uint64_t m_index = 0;
    bool m_tookThisPass = false;
    Status m_outcome;
    bool m_joined;
    // The message joined so far, and the line read past its end.
    std::string m_text;
    std::string m_aheadText;
    std::optional<ReplayLine> m_ahead;
    bool m_aheadContinues = false;
    bool m_ended = false;
    std::uint64_t m_joinsSplit = 0;
};
