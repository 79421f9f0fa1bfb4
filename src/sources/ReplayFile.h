#pragma once

#include "common/Status.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// How a replayed line's time is written.
enum class ReplayTime {
    None,    // no time at its start: it goes with the line before
    Rfc3339, // 2026-03-05T14:03:09.123456+01:00, as rsyslog's RSYSLOG_FileFormat and syslog-ng's ISO dates
    Rfc3164, // Mar  5 14:03:09, as the traditional file formats of both daemons
};

// A line of a replayed file. Its time stands at its start, or after a
// syslog priority ("<13>") or an RFC 5424 one ("<13>1 ").
struct ReplayLine {
    // Without its line end; good until the next line is read.
    std::string_view text;
    // Since the file's first timed line, scaled by nothing, each gap cut to
    // the longest one allowed; never less than the line before's (a line out
    // of order goes at once), and growing on across loops.
    std::int64_t offsetUs = 0;
    ReplayTime time = ReplayTime::None;
    std::size_t timeAt = 0;
    std::size_t timeLength = 0;
    // Digits after the second's point, as written.
    int fractionDigits = 0;
};

// Reads a log file a line at a time for replay: each line with the time
// between it and the first. An RFC 3164 time has no year: the file is taken
// to start in referenceYear and to move to the next year when its time
// falls back by more than half a year (December to January). A date that
// does not exist (Feb 30) is no time.
class ReplayFile {
public:
    static constexpr std::size_t LongestLine = 64 * 1024;

    // longestGapUs: a gap between lines longer than this is cut to it; a
    // time set back by more goes at once and the lines after keep their
    // pace from it. 0: no limit.
    explicit ReplayFile(int referenceYear, std::int64_t longestGapUs = 0);
    ~ReplayFile();
    ReplayFile(const ReplayFile &) = delete;
    ReplayFile &operator=(const ReplayFile &) = delete;

    // A failure says why in a usage error's words.
    Status Open(const std::string &path);

    enum class Read { Line, End, Failed };
    // After Failed, Outcome() names the file and the line: unreadable, or
    // longer than LongestLine (also a file that never ends, such as /dev/zero).
    [[nodiscard]] Read Next(ReplayLine &line);
    const Status &Outcome() const { return m_outcome; }

    // Starts over at the first line for another loop. Its offsets go on from
    // the last line's plus the file's mean gap between lines (a second for a
    // file of one timed line), so the loop keeps the file's pace.
    void Rewind();

    std::uint64_t LinesRead() const { return m_lines; }
    // Gaps cut to the longest allowed, and lines whose time is before an
    // earlier line's, over all loops.
    std::uint64_t GapsCut() const { return m_gapsCut; }
    std::uint64_t WentBack() const { return m_wentBack; }

private:
    Status Fill();
    Read Fail(Status failure);
    std::int64_t InstantOf(ReplayLine &line);
    void Advance(std::int64_t instant);

    std::unique_ptr<std::FILE, int (*)(std::FILE *)> m_file;
    std::string m_path;
    Status m_outcome;
    std::string m_buffer;
    std::size_t m_at = 0;
    bool m_atEnd = false;
    std::uint64_t m_lines = 0;
    int m_referenceYear;
    int m_year;
    std::int64_t m_longestGapUs;
    bool m_timed = false;
    // The file's time the latest offset stands for.
    std::int64_t m_reference = 0;
    std::int64_t m_last3164 = 0;
    std::int64_t m_lastOffset = 0;
    std::uint64_t m_gapsCut = 0;
    std::uint64_t m_wentBack = 0;
    std::uint64_t m_timedLines = 0;
    std::int64_t m_loopBase = 0;
};

// The line with its time made nowUs's local time (utcOffsetSeconds east of
// UTC) in the same form: "Mmm dd hh:mm:ss" for RFC 3164, RFC 3339 with as
// many fraction digits as it had (up to 6) and the offset. A line without a
// time is appended as it is.
void AppendRewritten(std::string &out, const ReplayLine &line, std::int64_t nowUs, int utcOffsetSeconds);
