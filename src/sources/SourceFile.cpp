#include "sources/SourceFile.h"

#include "common/MemoryBudget.h"
#include "common/TextHelpers.h"

#include <algorithm>
#include <array>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// There is only one source file, so its number is always the same.
constexpr std::int16_t OpenFileHandle = 1;
constexpr std::int32_t MessageField = 4;
constexpr std::string_view HexPrefix = "HEX=";
constexpr std::string_view SyslogPort("\x02\x02", 2);

std::FILE *OpenForReading(const std::string &path)
{
    // A NUL inside the name would silently open a different, shorter path.
    if (path.find('\0') != std::string::npos)
        return nullptr;
    // A FIFO is opened without waiting for a writer, which might never come
    // and no stop could end the wait; with none, it reads as empty.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE *file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return file;
}

// The first "<" at or after the candidate lies at +6, and the first ">" after
// it closes a priority of one to three characters.
bool PriorityPartFollows(const std::string &data, std::size_t candidate)
{
    const std::size_t open = candidate + 6;
    if (open >= data.size() || data[open] != '<')
        return false;
    for (std::size_t i = candidate + 2; i < open; ++i)
        if (data[i] == '<')
            return false;
    for (std::size_t i = open + 1; i <= open + 4 && i < data.size(); ++i)
        if (data[i] == '>')
            return i >= open + 2;
    return false;
}
} // namespace

std::string TabField(std::string_view line, std::int32_t n)
{
    if (line.empty() || n <= 0)
        return {};
    std::size_t from = 0;
    for (std::int32_t field = 1; field < n; ++field) {
        const std::size_t tab = line.find('\t', from);
        if (tab == std::string_view::npos)
            return {};
        from = tab + 1;
    }
    const std::size_t end = line.find('\t', from);
    return std::string(line.substr(from, end == std::string_view::npos ? end : end - from));
}

SourceFile::SourceFile(SendState &state) : m_state(state)
{}

SourceFile::~SourceFile()
{
    CloseFile();
}

void SourceFile::CloseFile()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void SourceFile::CloseSourceFile()
{
    CloseFile();
    m_mode = Mode::None;
    m_captureData.clear();
    m_captureData.shrink_to_fit();
    m_state.SourceFileHandle = 0;
}

bool SourceFile::OpenText()
{
    CloseFile();
    m_mode = Mode::None;
    m_file = OpenForReading(m_state.SourceFileName);
    if (!m_file) {
        // Zero, so the next call tries again: the file may appear meanwhile.
        m_state.SourceFileHandle = 0;
        return false;
    }
    struct stat opened {};
    m_openedSize = fstat(fileno(m_file), &opened) == 0 ? opened.st_size : 0;
    m_mode = Mode::Text;
    m_state.SourceFileHandle = OpenFileHandle;
    return true;
}

bool SourceFile::Shrunk() const
{
    struct stat now {};
    return fstat(fileno(m_file), &now) == 0 && now.st_size < m_openedSize;
}

bool SourceFile::AtEnd()
{
    const int next = std::getc(m_file);
    if (next == EOF)
        return true;
    std::ungetc(next, m_file);
    return false;
}

bool SourceFile::ReadLine(std::string &line)
{
    line.clear();
    int c;
    while ((c = std::getc(m_file)) != EOF) {
        // Linux text files end their lines in LF alone; CR and CR LF still count.
        if (c == '\n')
            return true;
        if (c == '\r') {
            const int next = std::getc(m_file);
            if (next != '\n' && next != EOF)
                std::ungetc(next, m_file);
            return true;
        }
        if (line.size() == LongestLine) {
            m_lineTooLong = true;
            return false;
        }
        line.push_back(static_cast<char>(c));
    }
    // An end short of the size the file had is a cut, and the line may be half.
    return !std::ferror(m_file) && !Shrunk();
}

std::string SourceFile::ReadSourceFileLine()
{
    m_lineTooLong = false;
    // A zero number means someone else closed the source, and a capture left
    // open must be read again as text.
    if (m_state.SourceFileHandle == 0 || m_mode != Mode::Text || !m_file) {
        if (!OpenText())
            return std::string(SourceFileReadError);
    }
    if (AtEnd()) {
        // Truncated while replayed: reported like a failed read, then line 1.
        if (std::ferror(m_file) || Shrunk() || !OpenText()) {
            CloseSourceFile();
            return std::string(SourceFileReadError);
        }
        if (AtEnd()) {
            if (!std::ferror(m_file))
                return {};
            CloseSourceFile();
            return std::string(SourceFileReadError);
        }
    }
    std::string line;
    if (!ReadLine(line)) {
        // The file went bad or was cut under us: say so and start over at
        // the next call instead of sending half a line.
        CloseSourceFile();
        return std::string(SourceFileReadError);
    }
    if (StartsWithNoCase(line, HexPrefix))
        return line;
    return TabField(line, MessageField);
}

std::size_t SourceFile::CaptureLimit(bool sized)
{
    // A file that tells its size is read into a string reserved for it; one
    // read from a device grows by doubling: twice the bytes, and the old copy
    // beside the new while it moves.
    return sized ? std::min(LargestCapture, InputBudget()) : std::min(LargestUnsizedCapture, InputBudget() / 3);
}

bool SourceFile::LoadCapture()
{
    CloseFile();
    m_mode = Mode::None;
    m_captureData.clear();
    m_file = OpenForReading(m_state.SourceFileName);
    m_captureFault = m_file ? CaptureFault::None : CaptureFault::Unreadable;
    struct stat opened {};
    m_captureLimit = CaptureLimit(false);
    if (m_file && fstat(fileno(m_file), &opened) == 0 && S_ISREG(opened.st_mode)) {
        m_captureLimit = CaptureLimit(true);
        if (static_cast<unsigned long long>(opened.st_size) > m_captureLimit)
            m_captureFault = CaptureFault::TooLarge;
        else
            m_captureData.reserve(static_cast<std::size_t>(opened.st_size));
    }
    if (m_captureFault == CaptureFault::None) {
        std::array<char, 65536> chunk;
        std::size_t got;
        while (m_captureFault == CaptureFault::None && (got = std::fread(chunk.data(), 1, chunk.size(), m_file)) > 0) {
            if (m_captureData.size() + got > m_captureLimit) {
                m_captureFault = CaptureFault::TooLarge;
                break;
            }
            m_captureData.append(chunk.data(), got);
        }
        if (m_captureFault == CaptureFault::None && std::ferror(m_file))
            m_captureFault = CaptureFault::Unreadable;
    }
    if (m_captureFault != CaptureFault::None) {
        CloseFile();
        m_captureData.clear();
        m_captureData.shrink_to_fit();
        m_state.SourceFileHandle = 0;
        return false;
    }
    m_mode = Mode::Capture;
    m_state.SourceFileHandle = OpenFileHandle;
    m_capturePosition = 1;
    return true;
}

bool SourceFile::FindSyslogPayload(std::string &payload)
{
    const std::string &data = m_captureData;
    bool passFromStart = m_capturePosition <= 1;
    std::size_t from = passFromStart ? 0 : static_cast<std::size_t>(m_capturePosition - 1);
    while (true) {
        const std::size_t candidate = data.find(SyslogPort, from);
        if (candidate == std::string::npos) {
            if (passFromStart)
                return false;
            from = 0;
            passFromStart = true;
            continue;
        }
        // Two bytes on, not one: a port pair that straddles the candidate is
        // never looked at.
        from = candidate + 2;
        if (!PriorityPartFollows(data, candidate))
            continue;
        const std::size_t length =
            static_cast<unsigned char>(data[candidate + 2]) * 256u + static_cast<unsigned char>(data[candidate + 3]);
        if (length < 10)
            continue;
        const std::size_t start = candidate + 6;
        const std::size_t size = length - 8;
        payload = data.substr(start, size);
        m_capturePosition = static_cast<std::int32_t>(start + size + 1);
        return true;
    }
}

std::string SourceFile::ReadCapturePacket()
{
    if (m_state.SourceFileHandle == 0 || m_mode != Mode::Capture) {
        if (!LoadCapture())
            return std::string(CaptureReadError);
    }
    std::string payload;
    if (FindSyslogPayload(payload))
        return payload;
    // Nothing to replay: drop the data but keep the number, so every later
    // call gives the same answer until the source is closed.
    m_captureFault = CaptureFault::NoPackets;
    m_capturePosition = 1;
    CloseFile();
    m_captureData.clear();
    m_captureData.shrink_to_fit();
    return std::string(CaptureNoPacketsError);
}
