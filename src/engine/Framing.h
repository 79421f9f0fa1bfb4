#pragma once

#include "common/Framing.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// What follows each message: LF, CR LF, NUL or nothing.
std::string_view TrailerOf(Framing framing);

// Appends one framed packet to a batch; out keeps its capacity.
void AppendFramed(std::string &out, Framing framing, std::string_view packet);

// Frames the packet built in place at out[start..]: octet counting moves it
// along by the length of its count, without a copy elsewhere.
void FrameInPlace(std::string &out, std::size_t start, Framing framing);

// Octet counting of messages written in place, one after another: each goes
// after room for a count as long as the last one, so a run of messages of
// one length is counted without moving a byte or making the count's text again.
class OctetCounter {
public:
    // The most bytes a count and its space take.
    static constexpr std::size_t MaxRoom = 21;

    // Where the message goes: this far past where its count starts.
    std::size_t Room() const { return m_digits + 1; }
    // Writes the last count at start, with more bytes after it than
    // MaxRoom, for the message that goes at the pointer returned.
    char *Start(char *start)
    {
        std::memcpy(start, m_text, sizeof m_text);
        return start + m_digits + 1;
    }
    // Sets the count written at Start right for the message from there to
    // end, moving the message along once when its count is of another
    // length (there are MaxRoom bytes of room past end); returns its end.
    char *Count(char *start, char *end)
    {
        return static_cast<std::size_t>(end - start) - m_digits - 1 == m_length ? end : Recount(start, end);
    }
    // The message from start + Room() to the end of out counted.
    void Count(std::string &out, std::size_t start);

private:
    char *Recount(char *start, char *end);

    std::size_t m_digits = 1;
    std::size_t m_length = 0;
    // The count and its space.
    char m_text[24] = "0 ";
};
