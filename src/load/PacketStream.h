#pragma once

#include "common/Clock.h"
#include "common/SendState.h"
#include "engine/MessageComposer.h"
#include "engine/MessageStamper.h"
#include "engine/MessageTemplate.h"
#include "engine/Priority.h"
#include "engine/TemplateSet.h"
#include "load/LoadPlan.h"
#include "load/ReplayLines.h"
#include "sources/SourceFile.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Stamp;

// The packets of a run, made one at a time exactly as the window's send tick
// composes them: message, then priority, then the packet bytes, so the
// random draws come in the same order whether packets go out singly or in
// batches. A message whose bytes change only in its priority, time, number
// and stamp is compiled once into a whole-message template and rendered in
// place into the batch; so is each message of --template and --pack. Others
// (random parts, files, replays, corruption) are composed. With --size each
// packet is then padded or cut, and over TCP it is framed as the options
// say, where it was built.
class PacketStream {
public:
    // The messages of the plan's run as share's thread sends them. hostName
    // and subnetPrefix are the local machine's, for the RFC header and
    // "Random host on this subnet". A seed restarts the program's random
    // sequence. clock: the system's when null.
    PacketStream(const LoadPlan &plan, const ThreadShare &share, const std::string &hostName,
                 const std::string &subnetPrefix, const Clock *clock = nullptr);

    // Stamps every following message with run and stream, numbered from 1.
    void StampWith(const std::string &run, std::uint64_t stream, const StampKey *key = nullptr);
    // Stamps the following messages with a stamper of the caller's (one per
    // connection), or with none.
    void UseStamper(MessageStamper *stamper) { m_active = stamper; }
    // Reads the clock for the packets of one batch, which go to the system
    // together: their RFC 5424 timestamps and stamps carry that reading. A
    // reading costs about as much as composing a message.
    void StartBatch();
    // A batch of its own.
    std::string Next();
    // The next packet of the batch appended to out, whose capacity can be kept.
    void AppendNext(std::string &out);
    // count packets back to back in bytes, each one's length in sizes (both
    // cleared first, their capacity kept). False, with the batch withdrawn,
    // when the source file's line was too long to send.
    [[nodiscard]] bool AppendBatch(std::int64_t count, std::string &bytes, std::vector<std::uint32_t> &sizes);
    // As AppendBatch, the batch at the start of room, which keeps its size
    // from batch to batch where the messages are rendered, so its bytes are
    // not cleared again for each batch; nothing when AppendBatch fails.
    [[nodiscard]] std::optional<std::string_view> RenderBatch(std::int64_t count, std::string &room,
                                                              std::vector<std::uint32_t> &sizes);
    // Only the first handed packets of the batch went out: the stamp numbers
    // of the others go to the following messages.
    void Withdraw(std::size_t handed);

    const SendState &State() const { return m_state; }
    // The message-source file's latest line was longer than a line may be,
    // or the replayed file failed (ReplayFault says how).
    bool SourceLineTooLong() const { return m_source.LineTooLong() || !m_replayFault.empty(); }
    const std::string &ReplayFault() const { return m_replayFault; }
    // The next count messages are not sent (--no-catch-up): a replay passes
    // over their lines, which keeps each line with its time.
    void Skip(std::int64_t count);
    // Null without stamps.
    const MessageStamper *Stamper() const { return m_active; }
    // Whether the messages are rendered from compiled templates.
    bool Compiled() const { return m_set || !m_compiled.empty(); }
    // Composes the following messages where the options' message would be
    // compiled: the two ways compared.
    void UseComposer() { m_compiled.clear(); }

private:
    // The next line of a replay as the message text.
    void TakeReplayed();
    void CompileTemplates(const Options &options, const std::string &hostName);
    // The message as the composer would make it, compiled, when only its
    // priority, time, number and stamp change.
    void CompileMessage(const Options &options, const std::string &hostName);
    std::int16_t NextPriority() const;
    // The next stamp in stamp, or null without stamps.
    const Stamp *TakeStamp(Stamp &stamp, std::int64_t nowUs);
    // The next rendered message's template, and in context what it shows,
    // drawn in the composer's order; index: its place in the set.
    MessageTemplate &NextRendered(TemplateContext &context, Stamp &stamp, std::size_t &index);
    // Renders the message at at, octet counted unless it is to be sized
    // first, and returns its end.
    char *RenderAt(char *at, MessageTemplate &message, const TemplateContext &context);
    // count messages rendered back to back from the start of bytes, grown
    // as they need; returns the bytes they take.
    std::size_t RenderRun(std::int64_t count, std::string &bytes, std::vector<std::uint32_t> &sizes);
    // Room to render count messages in, kept from batch to batch.
    char *Scratch(std::size_t count);
    // The next rendered packet appended to out.
    void AppendRendered(std::string &out);
    // Pads or cuts a templated packet from start to its --size, around its
    // header and its stamp.
    void FitTemplatedToSize(std::string &out, std::size_t start, std::size_t index, const TemplateContext &context);
    // The next packet's --size, drawn from its range.
    std::size_t DrawSize() const;
    // Pads or cuts the packet from start to the end of out to its --size,
    // keeping its stamp and its line end whole: an RFC 5424 message's body
    // has bodyLength bytes, an RFC 3164 stamp token tokenLength.
    void FitToSize(std::string &out, std::size_t start, bool rfc5424, std::size_t bodyLength, std::size_t tokenLength);

    // The wall clock, its instant the one read at the batch's start.
    class BatchClock final : public Clock {
    public:
        explicit BatchClock(const Clock &wall) : m_wall(wall) {}
        LocalDateTime Now() const override { return m_wall.Now(); }
        std::int64_t EpochMicroseconds() const override { return m_reading; }
        int UtcOffsetSeconds(std::int64_t epochSeconds) const override { return m_wall.UtcOffsetSeconds(epochSeconds); }
        void Read() { m_reading = m_wall.EpochMicroseconds(); }

    private:
        const Clock &m_wall;
        std::int64_t m_reading = 0;
    };

    SendState m_state;
    FixedComposeInputs m_composeInputs;
    FixedPriorityInputs m_priorityInputs;
    BatchClock m_clock;
    SourceFile m_source;
    MessageComposer m_composer;
    SendingKind m_kind;
    std::optional<std::int16_t> m_typedPriority;
    bool m_noPriority;
    bool m_oversize;
    bool m_crlf;
    Framing m_framing;
    std::uint32_t m_sizeMin;
    std::uint32_t m_sizeMax;
    OctetCounter m_octets;
    // Octet counted as rendered: not to be sized first.
    bool m_countAtOnce;
    // --lines-file: the message texts, sent in turn.
    std::shared_ptr<const std::vector<std::string>> m_lines;
    std::size_t m_nextLine = 0;
    std::optional<ReplayLines> m_replay;
    bool m_rewriteTime;
    std::string m_replayFault;
    std::int64_t m_offsetSecond = -1;
    int m_utcOffset = 0;
    std::optional<MessageStamper> m_stamper;
    MessageStamper *m_active = nullptr;
    // With templates: the set (which picks the template of each message),
    // each template as a whole message, and with --size its header alone.
    std::optional<TemplateSet> m_set;
    std::vector<MessageTemplate> m_messages;
    std::vector<MessageTemplate> m_heads;
    std::string m_lineEnd;
    // The composed message compiled, unstamped and stamped, its body's
    // length but for its numbers, and how many numbers it holds (the
    // numbered phrase's "####").
    std::vector<MessageTemplate> m_compiled;
    bool m_numbered = false;
    bool m_rfc5424 = false;
    std::size_t m_bodyLength = 0;
    std::size_t m_numbers = 0;
    // The most room a rendered message needs, octet counted; where they are rendered.
    std::size_t m_room = 0;
    std::string m_scratch;
    // ${seq} of an unstamped run.
    std::uint64_t m_count = 0;
    // The stamp number before each packet of the batch.
    std::vector<std::uint64_t> m_batchSeqs;
};
