#pragma once

#include "common/SendState.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

inline constexpr std::string_view SourceFileReadError = "Error reading from specified file";
inline constexpr std::string_view CaptureReadError = "Error reading from specified Ethereal file";
inline constexpr std::string_view CaptureNoPacketsError =
    "Error: No syslog packets were found in Ethereal capture file";

// The N-th tab-separated field (1-based), or empty.
std::string TabField(std::string_view line, std::int32_t n);

// The message-source file shared by the text, hex and capture readers: the
// path and open-file number live in SendState, the open file and the loaded
// capture here. Contents pass through byte for byte.
class SourceFile {
public:
    explicit SourceFile(SendState &state);
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // Lines are read up to this many bytes: a longer one (or a file without
    // line ends, such as /dev/zero) is a failed read.
    static constexpr std::size_t LongestLine = 64 * 1024;
    // A capture is read whole, so a larger one is a failed read, found
    // before it is read from the file's size. Positions are 32-bit: a
    // payload may run up to 64 KiB past the last byte.
    static constexpr std::size_t LargestCapture = 0x7FFF0000;
    // What does not tell its size (a device, a FIFO) may never end: it is
    // read up to this much, then refused.
    static constexpr std::size_t LargestUnsizedCapture = std::size_t{64} << 20;
    // The limit of a capture of either kind, or less when a share of the
    // memory budget (common/MemoryBudget.h) is smaller.
    static std::size_t CaptureLimit(bool sized);
    // Why the latest capture read gave an error text instead of a packet.
    enum class CaptureFault { None, Unreadable, TooLarge, NoPackets };

    // Next line's field 4, or the whole line when it starts with "HEX=";
    // loops back to the first line after the last.
    std::string ReadSourceFileLine();
    // The latest read failed on a line longer than LongestLine.
    bool LineTooLong() const { return m_lineTooLong; }
    // Next syslog payload found in the capture, looping.
    std::string ReadCapturePacket();
    CaptureFault LastCaptureFault() const { return m_captureFault; }
    // The bound a capture too large went past.
    std::size_t LastCaptureLimit() const { return m_captureLimit; }
    // Closes the file and zeroes SourceFileHandle: the next read starts over.
    void CloseSourceFile();

    const std::string &CaptureData() const { return m_captureData; }
    std::int32_t CapturePosition() const { return m_capturePosition; }

private:
    enum class Mode { None, Text, Capture };
    bool OpenText();
    bool ReadLine(std::string &line);
    bool AtEnd();
    bool Shrunk() const;
    bool LoadCapture();
    bool FindSyslogPayload(std::string &payload);
    void CloseFile();

    SendState &m_state;
    std::FILE *m_file = nullptr;
    // The text file's size when opened, to tell a truncated file from its end.
    long long m_openedSize = 0;
    Mode m_mode = Mode::None;
    bool m_lineTooLong = false;
    std::string m_captureData;
    std::int32_t m_capturePosition = 0;
    CaptureFault m_captureFault = CaptureFault::None;
    std::size_t m_captureLimit = LargestUnsizedCapture;
};
