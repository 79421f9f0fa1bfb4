#pragma once

#include "common/Result.h"
#include "engine/Framing.h"
#include "engine/TimeText.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class Clock;
struct Stamp;
struct TemplateFileCache;

// A cache for MessageTemplate::Options::files, to share among templates.
std::shared_ptr<TemplateFileCache> MakeTemplateFileCache();

// Where a template puts the delivery stamp (Stamp.h), in the form its
// format keeps fields in. A message without a stamp gets none of it. A field
// of a template text leaves its separator out where the text before it
// already ends in one, after "{", and at the start.
enum class StampForm {
    Token,    // " quillon=RUN:STREAM:SEQ:T": a key=value after a space (CEF, firewall, RFC 3164)
    TabToken, // "\tquillon=RUN:STREAM:SEQ:T": a LEEF attribute
    Json,     // ",\"quillon\":\"RUN:STREAM:SEQ:T\"": a member of a JSON object
    Element,  // "[quillon@32473 run=... t=...]": an RFC 5424 SD element
};
// Where FitStamp put the stamp of a template without a stamp field.
enum class StampFit {
    Json,  // the last member of the JSON object the text is
    Token, // left for the end, where a key=value token fits (SyslogTemplate)
    None,  // nowhere: the text ends in a bracket a token would break
};

// What changes from message to message, read by the slots that the caller
// feeds rather than the template.
struct TemplateContext {
    // The instant the time slots show: one clock reading a batch is enough.
    std::int64_t nowUs = 0;
    // ${seq}: the message's number in its stream (the stamp's, when stamped).
    std::uint64_t seq = 0;
    // ${pri}
    int priority = 13;
    // The stamp slots' stamp; null writes none.
    const Stamp *stamp = nullptr;
    // The caller's texts (AddText): a host name chosen per message, an SD
    // element, a message text.
    std::span<const std::string_view> texts;
};

// A message text compiled once into literal runs and typed slots, then
// rendered per message straight into a caller's buffer, with no parsing and
// no allocation. Random slots draw from the program's one random sequence
// (common/Random.h) from left to right, so a seed repeats the bytes.
//
// Fields in a template text:
//   ${ip} ${ipv6} ${uuid}          a random IPv4 unicast address, an IPv6 one in 2000::/3, a version 4 UUID
//   ${int:A:B}  ${hex:N}           an integer from A to B (64-bit, inclusive); N random hex digits (1..4096)
//   ${choice:A|B|C}                one of the texts, each as likely
//   ${weighted:200=90,404=7}       one of the texts, by weight (numbers >= 0, not all 0)
//   ${line:FILE}  ${zipf:FILE:S}   a line of FILE (empty lines skipped), each as likely, or the k-th with
//                                  weight 1/k^S (S > 0: a few lines most of the time)
//   ${counter}  ${seq}  ${pri}     this template's count from 1; the context's seq; its priority
//   ${time:FORMAT}                 rfc3339 (the default), rfc3339_us, rfc3164, epoch, epoch_ms, apache, or a
//                                  strftime format (C locale)
//   ${stamp} ${stamp:tab} ${stamp:json} ${stamp:sd}   the delivery stamp in a StampForm
// Inside a field a backslash makes the next character plain (\| \, \: \= \} \\); "$${" is a literal "${".
class MessageTemplate {
public:
    struct Options {
        // Asked the UTC offset for the time slots; null: the system's.
        const Clock *clock = nullptr;
        // Where relative file names of ${line} and ${zipf} are found; empty:
        // the working folder.
        std::string folder;
        // Files read for templates compiled with the same cache are read once.
        std::shared_ptr<TemplateFileCache> files;
        // The column errors give the text's first character: where it starts
        // on its line.
        std::size_t firstColumn = 1;
    };

    // Bytes added for an octet count and its space.
    static constexpr std::size_t CountRoom = OctetCounter::MaxRoom;

    // The compiled text, or why not, naming the field and its column:
    // "field ${int:9:1} at column 12: 9 is above 1".
    static Result<MessageTemplate> Compile(std::string_view text, const Options &options);

    MessageTemplate();
    ~MessageTemplate();
    MessageTemplate(const MessageTemplate &);
    MessageTemplate &operator=(const MessageTemplate &);
    MessageTemplate(MessageTemplate &&) noexcept;
    MessageTemplate &operator=(MessageTemplate &&) noexcept;

    // Pieces added at the end, for forms composed in code (a syslog header
    // before a message template).
    void AddLiteral(std::string_view text);
    void AddPriority();
    void AddTime(TimeFormat format, const Clock &clock);
    void AddCounter();
    void AddSeq();
    void AddStamp(StampForm form);
    // context.texts[index], or nothing when the context has fewer texts.
    void AddText(std::size_t index);
    // Another template's pieces, after these.
    void Add(const MessageTemplate &other);
    // Drops the space that ends the last piece when that is literal text;
    // false when it ends otherwise.
    bool DropTrailingSpace();
    // Where the stamp of a template without a stamp field goes: a JSON
    // object takes its field here, before the closing brace.
    StampFit FitStamp();

    // The most bytes Render writes with this context.
    std::size_t MaxLength(const TemplateContext &context) const;
    // Writes the message at out, which has MaxLength(context) bytes of room,
    // and returns the end of what it wrote.
    char *Render(char *out, const TemplateContext &context);
    // RFC 6587 octet counting: "LENGTH SP MESSAGE" at out, which has
    // MaxLength(context) + CountRoom bytes of room. Written in place when
    // the count is as long as the last one, moved along once otherwise.
    char *RenderOctetCounted(char *out, const TemplateContext &context);
    // The message appended to out.
    void AppendTo(std::string &out, const TemplateContext &context);

    // The bytes this template holds and a render of it needs: its pieces,
    // its random draws and the room of one message.
    std::size_t Footprint() const;

    bool HasStamp() const;
    bool Empty() const;
    // The number ${counter} writes next.
    void SetCounter(std::uint64_t next) { m_counter = next; }

private:
    friend struct TemplateParts;
    struct Part;
    struct StampCache;

    void AddPart(Part part, std::size_t width, std::size_t draws = 0);
    char *WriteStamp(char *out, const Part &part, const Stamp &stamp);

    std::vector<Part> m_parts;
    std::string m_literals;
    std::string m_pool;
    std::vector<TimeText> m_times;
    std::size_t m_fixedWidth = 0;
    // Random draws a message takes, and where they are kept.
    std::size_t m_draws = 0;
    std::vector<std::uint64_t> m_bits;
    std::uint64_t m_counter = 1;
    OctetCounter m_octets;
    std::unique_ptr<StampCache> m_stampCache;
};
