// Feeds bytes to a RELP session of the receiver whole and in pieces, the
// answers taken a few at a time: the messages, the answers and the counts
// must not depend on how the stream was cut, no message may exceed the
// limit, every answer is a well-formed rsp in the client's order, and what
// is held stays within its bounds, the answers included when the client
// never takes one. Then the same bytes as the messages of a valid session:
// every one comes out whole, in order, and is acknowledged.
//
// bash scripts/fuzz.sh 60 RelpSessionFuzz
#include "FuzzSupport.h"
#include "proof/RelpSession.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {
// The longest header: 9 digits, a command of 32 letters, 9 digits; and
// the longest data of a command other than syslog.
constexpr std::size_t MaxHeader = 9 + 1 + 32 + 1 + 9 + 1;
constexpr std::size_t OtherLimit = 4096;
// What an open's answer may add past the bound.
constexpr std::size_t AnswerSlack = 256;

struct Collect final : FrameHandler {
    std::vector<std::string> messages;
    std::size_t limit = 0;
    void OnFrame(std::string_view message) override
    {
        FuzzCheck(message.size() <= limit, "a message is never over the limit");
        messages.emplace_back(message);
    }
};

struct Outcome {
    std::vector<std::string> messages;
    std::string answers;
    FrameCounts counts;
    std::uint64_t acknowledged = 0;
};

std::uint32_t Next(std::uint32_t &seed)
{
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
}

// Takes the answers a few bytes at a time, as a socket might.
void TakeSome(RelpSession &session, std::string &answers, std::uint32_t &seed)
{
    const std::size_t length = std::min<std::size_t>(session.Answers().size(), Next(seed) % 64);
    answers.append(session.Answers().substr(0, length));
    session.Sent(length);
}

Outcome Run(std::string_view bytes, std::size_t maxFrame, std::uint32_t seed, bool pieces)
{
    RelpSession session(maxFrame);
    Collect collect;
    collect.limit = maxFrame;
    Outcome outcome;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = pieces ? 1 + Next(seed) % 9 : bytes.size();
        session.Feed(bytes.substr(at, length), collect);
        at += length;
        if (pieces)
            TakeSome(session, outcome.answers, seed);
        FuzzCheck(session.Buffered() - session.Answers().size() <= MaxHeader + std::max(maxFrame, OtherLimit) + 1,
                  "a frame begun holds no more than one frame");
    }
    session.Finish();
    outcome.answers.append(session.Answers());
    session.Sent(session.Answers().size());
    FuzzCheck(session.Buffered() == 0, "nothing is held once the answers went");
    outcome.messages = std::move(collect.messages);
    outcome.counts = session.Counts();
    outcome.acknowledged = session.Acknowledged();
    return outcome;
}

// Each answer is "TXNR rsp LEN DATA LF" for the next frame of the client;
// returns how many said 200 OK alone (those of messages, and close's).
std::uint64_t CheckAnswers(std::string_view answers)
{
    std::uint64_t oks = 0;
    std::uint64_t txnr = 1;
    while (!answers.empty()) {
        const std::string prefix = std::to_string(txnr) + " rsp ";
        FuzzCheck(answers.starts_with(prefix), "answers come in the client's order");
        answers.remove_prefix(prefix.size());
        const std::size_t space = answers.find(' ');
        FuzzCheck(space != std::string_view::npos && space > 0, "an answer has a length");
        const std::size_t length = std::stoul(std::string(answers.substr(0, space)));
        FuzzCheck(answers.size() > space + 1 + length && answers[space + 1 + length] == '\n',
                  "an answer is as long as it says, and ends its line");
        oks += answers.substr(space + 1, length) == "200 OK" ? 1 : 0;
        answers.remove_prefix(space + 1 + length + 1);
        ++txnr;
    }
    return oks;
}

struct Count final : FrameHandler {
    void OnFrame(std::string_view) override {}
};

// A client that never takes an answer, read only as far as the session
// lets it: the answers held stay within their bound.
void CheckPausedClient(std::string_view bytes, std::size_t maxFrame)
{
    RelpSession session(maxFrame);
    Count collect;
    std::string stream = "1 open 15 commands=syslog\n";
    for (std::uint32_t txnr = 2; txnr < 20000 && session.ReadRoom() > 0; ++txnr) {
        const std::string data(bytes.substr(0, std::min(bytes.size(), maxFrame)));
        stream +=
            std::to_string(txnr) + " syslog " + std::to_string(data.size()) + (data.empty() ? "" : " ") + data + "\n";
        while (!stream.empty() && session.ReadRoom() > 0) {
            const std::size_t length = std::min(stream.size(), session.ReadRoom());
            session.Feed(std::string_view(stream).substr(0, length), collect);
            stream.erase(0, length);
        }
        FuzzCheck(session.Answers().size() <= RelpSession::AnswerLimit + AnswerSlack,
                  "the answers a client does not take stay within their bound");
    }
}

void CheckValidSession(std::string_view bytes, std::size_t maxFrame, std::uint32_t seed)
{
    std::vector<std::string> messages;
    const std::string offers = "relp_version=0\nrelp_software=fuzz\ncommands=syslog";
    std::string stream = "1 open " + std::to_string(offers.size()) + " " + offers + "\n";
    std::uint32_t txnr = 2;
    while (!bytes.empty() && messages.size() < 64) {
        const std::size_t length = std::min<std::size_t>(bytes.size(), static_cast<unsigned char>(bytes[0]) % maxFrame);
        messages.emplace_back(bytes.substr(0, length));
        bytes.remove_prefix(std::max<std::size_t>(length, 1));
        stream +=
            std::to_string(txnr++) + " syslog " + std::to_string(length) + (length ? " " : "") + messages.back() + "\n";
    }
    stream += std::to_string(txnr) + " close 0\n";
    const Outcome outcome = Run(stream, maxFrame, seed, true);
    FuzzCheck(outcome.messages == messages, "every message of a valid session comes out whole, in order");
    FuzzCheck(outcome.acknowledged == messages.size() && outcome.counts.malformed == 0,
              "every message of a valid session is acknowledged");
    FuzzCheck(CheckAnswers(outcome.answers) == messages.size() + 1, "each message and the close are answered 200 OK");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t maxFrame = 16 + data[0] % 64;
    const std::uint32_t seed = data[1] | 1u;
    const std::string_view bytes = FuzzBytes(data + 2, size - 2);

    const Outcome whole = Run(bytes, maxFrame, seed, false);
    const Outcome pieces = Run(bytes, maxFrame, seed, true);
    FuzzCheck(whole.messages == pieces.messages && whole.answers == pieces.answers &&
                  whole.counts.frames == pieces.counts.frames && whole.counts.malformed == pieces.counts.malformed &&
                  whole.counts.oversize == pieces.counts.oversize && whole.acknowledged == pieces.acknowledged,
              "the outcome does not depend on how the stream was cut");
    FuzzCheck(whole.counts.frames == whole.messages.size() && whole.acknowledged == whole.messages.size(),
              "every message handed on is acknowledged once its answer went");
    FuzzCheck(whole.counts.malformed + whole.counts.oversize <= 1, "a session ends once");
    CheckAnswers(whole.answers);

    // A few thousand frames: not for every input.
    if (seed % 8 == 1)
        CheckPausedClient(bytes, maxFrame);
    CheckValidSession(bytes, maxFrame, seed);
    return 0;
}
