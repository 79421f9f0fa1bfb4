#include "sources/ReplayFile.h"

#include "common/Clock.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
constexpr std::size_t ReadSize = 64 * 1024;
constexpr std::int64_t HalfYearUs = 183LL * 86400 * 1000000;
constexpr std::int64_t SecondUs = 1000000;
// Offsets stop here, some 73,000 years in: a file of lines millennia apart
// looped for long must not wrap around.
constexpr std::int64_t LongestOffsetUs = std::int64_t{1} << 61;

// a + b, both from 0 to LongestOffsetUs, at most LongestOffsetUs.
std::int64_t AddOffsets(std::int64_t a, std::int64_t b)
{
    return std::min(a + b, LongestOffsetUs);
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int &value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool EndsField(std::string_view text, std::size_t at)
{
    return at == text.size() || text[at] == ' ';
}

// Where the time may start: after "<PRI>" and an RFC 5424 "1 ".
std::size_t AfterPriority(std::string_view text)
{
    if (text.empty() || text[0] != '<')
        return 0;
    std::size_t at = 1;
    while (at < text.size() && at <= 4 && text[at] >= '0' && text[at] <= '9')
        ++at;
    if (at == 1 || at >= text.size() || text[at] != '>')
        return 0;
    ++at;
    return text.compare(at, 2, "1 ") == 0 ? at + 2 : at;
}

bool ValidClock(int hour, int minute, int second)
{
    return hour < 24 && minute < 60 && second <= 60;
}

// Feb 29 is taken in any year when the year is a guess (RFC 3164).
bool ValidDate(int year, int month, int day, bool yearKnown)
{
    static constexpr int Days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > Days[month - 1])
        return false;
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month != 2 || day < 29 || leap || !yearKnown;
}

// Microseconds from up to 6 of the fraction's digits; the count read in digits.
std::int64_t Fraction(std::string_view text, std::size_t &at, int &digits)
{
    std::int64_t micros = 0;
    digits = 0;
    if (at >= text.size() || text[at] != '.')
        return 0;
    std::size_t i = at + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        if (digits < 6)
            micros = micros * 10 + (text[i] - '0');
    if (digits == 0)
        return 0;
    for (int d = std::min(digits, 6); d < 6; ++d)
        micros *= 10;
    at = i;
    return micros;
}

// "Mmm dd hh:mm:ss[.frac]": false when the text is not one.
bool ReadRfc3164(std::string_view text, std::size_t at, int year, ReplayLine &line, std::int64_t &instant)
{
    int month = 0;
    for (int m = 1; m <= 12; ++m)
        if (text.compare(at, 3, MonthAbbreviation(m)) == 0)
            month = m;
    int day = 0, hour = 0, minute = 0, second = 0;
    if (month == 0 || text.size() < at + 15 || text[at + 3] != ' ')
        return false;
    const bool padded = text[at + 4] == ' ';
    if (!Digits(text, at + (padded ? 5 : 4), padded ? 1 : 2, day) || !ValidDate(year, month, day, false) ||
        text[at + 6] != ' ' || !Digits(text, at + 7, 2, hour) || text[at + 9] != ':' ||
        !Digits(text, at + 10, 2, minute) || text[at + 12] != ':' || !Digits(text, at + 13, 2, second) ||
        !ValidClock(hour, minute, second))
        return false;
    std::size_t end = at + 15;
    int digits = 0;
    const std::int64_t micros = Fraction(text, end, digits);
    if (!EndsField(text, end))
        return false;
    instant = EpochSecondsOf({year, month, day, hour, minute, second, 0}) * SecondUs + micros;
    line.time = ReplayTime::Rfc3164;
    line.timeAt = at;
    line.timeLength = end - at;
    line.fractionDigits = digits;
    return true;
}

// "YYYY-MM-DDTHH:MM:SS[.frac](Z|+hh:mm)": false when the text is not one.
bool ReadRfc3339(std::string_view text, std::size_t at, ReplayLine &line, std::int64_t &instant)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(text, at, 4, year) || text.size() < at + 20 || text[at + 4] != '-' || !Digits(text, at + 5, 2, month) ||
        text[at + 7] != '-' || !Digits(text, at + 8, 2, day) || (text[at + 10] != 'T' && text[at + 10] != 't') ||
        !Digits(text, at + 11, 2, hour) || text[at + 13] != ':' || !Digits(text, at + 14, 2, minute) ||
        text[at + 16] != ':' || !Digits(text, at + 17, 2, second) || !ValidDate(year, month, day, true) ||
        !ValidClock(hour, minute, second))
        return false;
    std::size_t end = at + 19;
    int digits = 0;
    const std::int64_t micros = Fraction(text, end, digits);
    int offset = 0;
    if (end < text.size() && (text[end] == 'Z' || text[end] == 'z')) {
        ++end;
    } else {
        int offsetHours = 0, offsetMinutes = 0;
        if (end >= text.size() || (text[end] != '+' && text[end] != '-') || !Digits(text, end + 1, 2, offsetHours) ||
            end + 3 >= text.size() || text[end + 3] != ':' || !Digits(text, end + 4, 2, offsetMinutes))
            return false;
        offset = (text[end] == '-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
        end += 6;
    }
    if (!EndsField(text, end))
        return false;
    instant = (EpochSecondsOf({year, month, day, hour, minute, second, 0}) - offset) * SecondUs + micros;
    line.time = ReplayTime::Rfc3339;
    line.timeAt = at;
    line.timeLength = end - at;
    line.fractionDigits = digits;
    return true;
}

void AppendDigits(std::string &out, std::int64_t value, int count)
{
    char digits[8];
    for (int i = count - 1; i >= 0; --i, value /= 10)
        digits[i] = static_cast<char>('0' + value % 10);
    out.append(digits, static_cast<std::size_t>(count));
}
} // namespace

ReplayFile::ReplayFile(int referenceYear, std::int64_t longestGapUs)
    : m_file(nullptr, &std::fclose), m_referenceYear(referenceYear), m_year(referenceYear), m_longestGapUs(longestGapUs)
{}

ReplayFile::~ReplayFile() = default;

Status ReplayFile::Open(const std::string &path)
{
    m_file.reset(std::fopen(path.c_str(), "rb"));
    if (!m_file)
        return Status::Failure("cannot read '" + path + "': " + std::strerror(errno));
    m_path = path;
    m_outcome = {};
    return {};
}

Status ReplayFile::Fill()
{
    m_buffer.erase(0, m_at);
    m_at = 0;
    const std::size_t had = m_buffer.size();
    m_buffer.resize(had + ReadSize);
    const std::size_t got = std::fread(m_buffer.data() + had, 1, ReadSize, m_file.get());
    m_buffer.resize(had + got);
    if (got < ReadSize) {
        if (std::ferror(m_file.get()))
            return Status::Failure("cannot read '" + m_path + "': " + std::strerror(errno));
        m_atEnd = true;
    }
    return {};
}

ReplayFile::Read ReplayFile::Fail(Status failure)
{
    m_outcome = std::move(failure);
    return Read::Failed;
}

ReplayFile::Read ReplayFile::Next(ReplayLine &line)
{
    if (!m_file)
        return Fail(Status::Failure("no file is open"));
    std::size_t end;
    for (;;) {
        end = m_buffer.find('\n', m_at);
        if (end != std::string::npos || m_atEnd)
            break;
        if (m_buffer.size() - m_at > LongestLine)
            break;
        if (Status filled = Fill(); !filled)
            return Fail(std::move(filled));
    }
    if (end == std::string::npos && m_at == m_buffer.size())
        return Read::End;
    const std::size_t stop = end == std::string::npos ? m_buffer.size() : end;
    if (stop - m_at > LongestLine)
        return Fail(Status::Failure("'" + m_path + "' line " + std::to_string(m_lines + 1) + " is longer than " +
                                    std::to_string(LongestLine) + " bytes"));
    std::string_view text(m_buffer.data() + m_at, stop - m_at);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    m_at = end == std::string::npos ? m_buffer.size() : end + 1;
    ++m_lines;
    line = ReplayLine{};
    line.text = text;
    const std::int64_t instant = InstantOf(line);
    if (line.time != ReplayTime::None) {
        if (!m_timed) {
            m_timed = true;
            m_reference = instant;
        }
        ++m_timedLines;
        Advance(instant);
    }
    line.offsetUs = AddOffsets(m_loopBase, m_lastOffset);
    return Read::Line;
}

void ReplayFile::Advance(std::int64_t instant)
{
    const bool limited = m_longestGapUs > 0;
    if (instant >= m_reference) {
        std::int64_t gap = instant - m_reference;
        if (limited && gap > m_longestGapUs) {
            gap = m_longestGapUs;
            ++m_gapsCut;
        }
        m_lastOffset = AddOffsets(m_lastOffset, std::min(gap, LongestOffsetUs));
        m_reference = instant;
        return;
    }
    ++m_wentBack;
    // A clock set back this far (or one line dated far ahead before it)
    // starts the file's time anew: the lines after keep their own gaps
    // instead of all going at once until their times catch up.
    if (limited && m_reference - instant > m_longestGapUs)
        m_reference = instant;
}

std::int64_t ReplayFile::InstantOf(ReplayLine &line)
{
    const std::size_t at = AfterPriority(line.text);
    std::int64_t instant = 0;
    if (ReadRfc3339(line.text, at, line, instant))
        return instant;
    if (!ReadRfc3164(line.text, at, m_year, line, instant))
        return 0;
    // A year's end: December's lines, then January's.
    if (m_last3164 != 0 && instant < m_last3164 - HalfYearUs) {
        ++m_year;
        ReadRfc3164(line.text, at, m_year, line, instant);
    }
    m_last3164 = instant;
    return instant;
}

void ReplayFile::Rewind()
{
    if (!m_file)
        return;
    const std::int64_t gap = m_timedLines > 1 ? m_lastOffset / static_cast<std::int64_t>(m_timedLines - 1) : SecondUs;
    m_loopBase = AddOffsets(m_loopBase, AddOffsets(m_lastOffset, gap));
    std::rewind(m_file.get());
    m_buffer.clear();
    m_at = 0;
    m_atEnd = false;
    m_year = m_referenceYear;
    m_timed = false;
    m_last3164 = 0;
    m_lastOffset = 0;
    m_timedLines = 0;
}

void AppendRewritten(std::string &out, const ReplayLine &line, std::int64_t nowUs, int utcOffsetSeconds)
{
    if (line.time == ReplayTime::None) {
        out += line.text;
        return;
    }
    out += line.text.substr(0, line.timeAt);
    // Offsets are written in whole minutes: the local time agrees with them.
    utcOffsetSeconds = utcOffsetSeconds / 60 * 60;
    const std::int64_t seconds = nowUs / SecondUs - (nowUs % SecondUs < 0);
    const std::int64_t micros = nowUs - seconds * SecondUs;
    const LocalDateTime local = DateTimeOfEpochSeconds(seconds + utcOffsetSeconds);
    if (line.time == ReplayTime::Rfc3164) {
        out += MonthAbbreviation(local.month);
        out.push_back(' ');
        out.push_back(local.day < 10 ? ' ' : static_cast<char>('0' + local.day / 10));
        out.push_back(static_cast<char>('0' + local.day % 10));
        out.push_back(' ');
    } else {
        AppendDigits(out, local.year, 4);
        out.push_back('-');
        AppendDigits(out, local.month, 2);
        out.push_back('-');
        AppendDigits(out, local.day, 2);
        out.push_back('T');
    }
    AppendDigits(out, local.hour, 2);
    out.push_back(':');
    AppendDigits(out, local.minute, 2);
    out.push_back(':');
    AppendDigits(out, local.second, 2);
    if (line.fractionDigits > 0) {
        const int digits = std::min(line.fractionDigits, 6);
        out.push_back('.');
        std::int64_t fraction = micros;
        for (int d = digits; d < 6; ++d)
            fraction /= 10;
        AppendDigits(out, fraction, digits);
    }
    if (line.time == ReplayTime::Rfc3339) {
        const int minutes = utcOffsetSeconds / 60;
        if (minutes == 0) {
            out.push_back('Z');
        } else {
            out.push_back(minutes < 0 ? '-' : '+');
            AppendDigits(out, std::abs(minutes) / 60, 2);
            out.push_back(':');
            AppendDigits(out, std::abs(minutes) % 60, 2);
        }
    }
    out += line.text.substr(line.timeAt + line.timeLength);
}
