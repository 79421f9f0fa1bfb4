#pragma once

#include "transport/FrameSplitter.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The receiver's side of one RELP session, on bytes. The client's frames
// (TXNR SP COMMAND SP DATALEN [SP DATA] LF) are read as they come, in
// pieces of any size: open is answered with the receiver's offers, each
// syslog command's message is handed on and answered 200 OK, close is
// answered and ends the session. A frame out of turn, malformed or longer
// than the limit (a message's, or 4 KiB for other commands when that is
// more) ends the session too, counted.
//
// Answers wait here until the caller sends them, which it does once the
// messages they answer were handed to the system: a message acknowledged
// is a message kept. They are bounded: a read is never larger than the
// answers it may cause can fit under AnswerLimit, and reading pauses while
// half of it waits, so a client that does not take its answers is not
// read either.
class RelpSession {
public:
    static constexpr std::size_t AnswerLimit = 64 * 1024;

    explicit RelpSession(std::size_t maxFrame);

    // How many bytes may be read now: none while paused or after the
    // session ended (except the receiver's own end: then what still comes
    // is read and dropped).
    std::size_t ReadRoom() const;
    void Feed(std::string_view bytes, FrameHandler &handler);
    // The answers not sent yet; Sent takes the bytes that went off them.
    std::string_view Answers() const { return std::string_view(m_answers).substr(m_answersSent); }
    void Sent(std::size_t bytes);
    // The receiver ends the session: a serverclose hint follows the
    // answers, and nothing more is taken.
    void EndByReceiver();
    // Ended by the client's close or for what it sent: the session goes
    // once its answers were sent.
    bool Over() const { return m_end == End::ByClient || m_end == End::Broken; }
    // Its answers wait and it is not read.
    bool Paused() const { return m_end == End::No && Answers().size() >= AnswerLimit / 2; }
    // The connection is gone: a frame cut short counts as malformed.
    void Finish();
    // The part of a frame and the answers held.
    std::size_t Buffered() const { return m_partial.size() + Answers().size(); }
    // syslog messages whose answers went out.
    std::uint64_t Acknowledged() const { return m_acknowledged; }
    const FrameCounts &Counts() const { return m_counts; }

private:
    enum class End { No, ByClient, Broken, ByReceiver };

    std::size_t Step(std::string_view bytes, FrameHandler &handler);
    std::size_t StillWanted() const;
    void Handle(std::uint32_t txnr, std::string_view command, std::string_view data, FrameHandler &handler);
    void Answer(std::uint32_t txnr, std::string_view text);
    void Break(std::uint64_t &counter);
    void ClearPartial();

    std::size_t m_maxFrame;
    End m_end = End::No;
    bool m_opened = false;
    std::uint32_t m_nextTxnr = 1;
    // A frame begun in an earlier piece: its first bytes.
    std::string m_partial;
    std::string m_answers;
    std::size_t m_answersSent = 0;
    // Where each syslog answer in m_answers ends, from m_ackAt on unsent.
    std::vector<std::uint32_t> m_ackEnds;
    std::size_t m_ackAt = 0;
    std::uint64_t m_acknowledged = 0;
    FrameCounts m_counts;
};
