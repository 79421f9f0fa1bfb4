#include "load/PacketStream.h"

#include "common/Random.h"
#include "common/TextHelpers.h"
#include "engine/PacketBuilder.h"
#include "engine/Stamp.h"
#include "engine/SyslogTemplate.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {
SendState InitialState(const Options &options, const std::string &subnetPrefix)
{
    SendState state;
    state.SequenceNumber = options.sequenceNumber;
    state.SourceAddress = options.sourceAddress;
    state.MessageText = options.message;
    state.MultiLineText = options.multiLineText;
    state.SubnetPrefix = subnetPrefix;
    state.CorruptData = options.corrupt ? 1 : 0;
    state.BurstSize = options.burstSize;
    state.SourceFileName = options.sourceFile;
    return state;
}

const Clock &WallClock(const Clock *clock)
{
    static const SystemClock system;
    return clock ? *clock : system;
}

std::size_t DigitsOf(std::uint64_t value)
{
    char digits[24];
    return static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
}

// Messages whose text the composer makes afresh each time: random parts,
// another text, a file's line or packet.
bool IsGenerated(std::string_view text)
{
    for (std::string_view entry :
         {MessageEntries::WebAccess, MessageEntries::MultiLine, MessageEntries::RandomString,
          MessageEntries::TabDelimitedFile, MessageEntries::HexFile, MessageEntries::CaptureFile})
        if (text == entry)
            return true;
    return StartsWithNoCase(text, "HEX=");
}
} // namespace

PacketStream::PacketStream(const LoadPlan &plan, const ThreadShare &share, const std::string &hostName,
                           const std::string &subnetPrefix, const Clock *clock)
    : m_state(InitialState(plan.options, subnetPrefix)), m_clock(WallClock(clock)), m_source(m_state),
      m_composer(m_state, m_composeInputs, m_clock, m_source),
      m_kind(plan.options.pace == Pace::Burst ? SendingKind::Burst : SendingKind::Single),
      m_noPriority(plan.options.noPriority), m_oversize(plan.options.oversize), m_crlf(plan.options.crlf),
      m_framing(StreamFramingOf(plan.options)), m_sizeMin(plan.options.sizeMin), m_sizeMax(plan.options.sizeMax),
      m_countAtOnce(m_framing == Framing::OctetCount && plan.options.sizeMax == 0),
      m_lines(plan.options.lines && !plan.options.lines->empty() ? plan.options.lines : nullptr),
      m_rewriteTime(plan.options.replayRewriteTime)
{
    const Options &options = plan.options;
    if (options.pace == Pace::Replay)
        m_replay.emplace(ReplayLaneOf(plan, share));
    if (share.seed)
        SetRandomStart(*share.seed);
    m_composeInputs.rfcHeader = options.rfcHeader;
    m_composeInputs.hostName = hostName;
    m_composeInputs.localHeader = UsesUnixSocket(options);
    m_composer.UseFormat(options.messageFormat);
    m_priorityInputs.usePriorityText = options.usePriority;
    m_priorityInputs.priorityText = std::to_string(options.priority);
    m_priorityInputs.facilityIndex = options.facilityIndex;
    m_priorityInputs.levelIndex = options.levelIndex;
    // A typed priority draws nothing and reads the same for every message, so
    // it is read once instead of parsing its text per message.
    if (options.usePriority)
        m_typedPriority = static_cast<std::int16_t>(MessagePriority(m_priorityInputs));
    if (options.templates)
        CompileTemplates(options, hostName);
    else
        CompileMessage(options, hostName);
}

void PacketStream::CompileTemplates(const Options &options, const std::string &hostName)
{
    m_set = *options.templates;
    m_lineEnd = m_crlf ? "\r\n" : "";
    SyslogTemplateSettings settings;
    settings.format = options.messageFormat;
    // --hostname names the RFC 5424 host; RFC 3164's is this machine's, as composed.
    if (settings.format.format != MessageFormat::Rfc5424)
        settings.format.hostName.clear();
    settings.hostName = hostName;
    settings.rfc3164Header = options.rfcHeader;
    settings.localHeader = UsesUnixSocket(options);
    settings.noPriority = m_noPriority;
    settings.priority = m_typedPriority;
    // A packet that is not sized next is framed as it is rendered.
    settings.lineEnd = m_lineEnd + std::string(m_sizeMax == 0 ? TrailerOf(m_framing) : "");
    for (std::size_t i = 0; i < m_set->Count(); ++i) {
        const MessageTemplate &text = m_set->Template(i);
        // A template with a stamp slot of its own keeps it there.
        settings.stamped = options.stamp && !text.HasStamp();
        m_messages.push_back(SyslogMessageTemplate(settings, text, m_clock, m_set->App(i)));
        m_room = std::max(m_room, m_messages.back().MaxLength({}) + OctetCounter::MaxRoom);
        if (m_sizeMax == 0)
            continue;
        SyslogTemplateSettings head = settings;
        head.lineEnd.clear();
        // RFC 3164 keeps the stamp at the end, after the text.
        head.stamped = settings.stamped && settings.format.format == MessageFormat::Rfc5424;
        m_heads.push_back(SyslogMessageTemplate(head, MessageTemplate(), m_clock, m_set->App(i)));
    }
}

void PacketStream::CompileMessage(const Options &options, const std::string &hostName)
{
    const std::string &text = m_state.MessageText;
    const bool numbered = ContainsNumberedPhrase(text);
    // A number below 0 would be written with its sign, which a number slot has not.
    // A "HEX=" text goes out as the bytes it spells.
    if (m_lines || m_replay || m_state.CorruptData == 1 || StartsWithNoCase(text, "HEX=") ||
        (!numbered && IsGenerated(text)) || (numbered && m_state.SequenceNumber < 0))
        return;
    const std::string &source = m_state.SourceAddress;
    std::string address;
    if (source == SourceEntries::RandomClassC || source == SourceEntries::RandomSubnet)
        return;
    if (source != SourceEntries::ThisMachine) {
        // A single message's "a.b.c.?" draws its last part.
        if (m_kind == SendingKind::Single && !source.empty() && source.back() == '?')
            return;
        if (IsDottedQuad(source))
            address = source;
    }
    m_rfc5424 = options.messageFormat.format == MessageFormat::Rfc5424;
    MessageTemplate body;
    if (!m_rfc5424 && !address.empty())
        body.AddLiteral(std::string(SourceEntries::AddressLead) + address + " ");
    std::size_t from = 0;
    for (std::size_t at = text.find(MessageEntries::NumberMark); numbered && at != std::string::npos;
         at = text.find(MessageEntries::NumberMark, from)) {
        body.AddLiteral(std::string_view(text).substr(from, at - from));
        body.AddSeq();
        from = at + MessageEntries::NumberMark.size();
        ++m_numbers;
    }
    body.AddLiteral(std::string_view(text).substr(from));
    m_bodyLength = text.size() - m_numbers * MessageEntries::NumberMark.size();
    m_numbered = numbered;

    SyslogTemplateSettings settings;
    settings.format = options.messageFormat;
    std::string &host = settings.format.hostName;
    if (!m_rfc5424)
        host.clear();
    else if (!address.empty())
        host = address;
    else if (host.empty())
        host = hostName.empty() ? std::string(NilValue) : hostName;
    settings.hostName = hostName;
    settings.rfc3164Header = options.rfcHeader;
    settings.localHeader = UsesUnixSocket(options);
    settings.noPriority = m_noPriority;
    settings.priority = m_typedPriority;
    settings.stampSharesSpace = true;
    settings.lineEnd = std::string(m_oversize ? OversizePadding : 0, ' ');
    if (m_crlf)
        settings.lineEnd += "\r\n";
    if (m_sizeMax == 0)
        settings.lineEnd += TrailerOf(m_framing);
    for (const bool stamped : {false, true}) {
        settings.stamped = stamped;
        m_compiled.push_back(SyslogMessageTemplate(settings, body, m_clock));
        m_room = std::max(m_room, m_compiled.back().MaxLength({}) + OctetCounter::MaxRoom);
    }
}

void PacketStream::StampWith(const std::string &run, std::uint64_t stream, const StampKey *key)
{
    m_active = &m_stamper.emplace(run, stream, key);
}

void PacketStream::StartBatch()
{
    m_clock.Read();
    m_batchSeqs.clear();
}

std::string PacketStream::Next()
{
    StartBatch();
    std::string packet;
    AppendNext(packet);
    return packet;
}

bool PacketStream::AppendBatch(std::int64_t count, std::string &bytes, std::vector<std::uint32_t> &sizes)
{
    bytes.clear();
    sizes.clear();
    if (Compiled() && m_sizeMax == 0) {
        bytes.resize(RenderRun(count, bytes, sizes));
        return true;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        const std::size_t before = bytes.size();
        AppendNext(bytes);
        sizes.push_back(static_cast<std::uint32_t>(bytes.size() - before));
    }
    if (!SourceLineTooLong())
        return true;
    Withdraw(0);
    return false;
}

std::optional<std::string_view> PacketStream::RenderBatch(std::int64_t count, std::string &room,
                                                          std::vector<std::uint32_t> &sizes)
{
    if (!Compiled() || m_sizeMax != 0) {
        if (!AppendBatch(count, room, sizes))
            return std::nullopt;
        return std::string_view(room);
    }
    sizes.clear();
    return std::string_view(room.data(), RenderRun(count, room, sizes));
}

std::size_t PacketStream::RenderRun(std::int64_t count, std::string &bytes, std::vector<std::uint32_t> &sizes)
{
    // Rendered back to back in place; the buffer grows in steps, so each
    // byte is cleared about once, not the whole room of every message.
    std::size_t used = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (bytes.size() < used + m_room)
            bytes.resize(used + std::max(m_room, used / 2));
        TemplateContext context;
        Stamp stamp;
        std::size_t index = 0;
        MessageTemplate &message = NextRendered(context, stamp, index);
        char *const at = bytes.data() + used;
        char *const end = RenderAt(at, message, context);
        sizes.push_back(static_cast<std::uint32_t>(end - at));
        used += sizes.back();
    }
    return used;
}

void PacketStream::AppendNext(std::string &out)
{
    if (Compiled()) {
        AppendRendered(out);
        return;
    }
    if (m_lines) {
        m_state.MultiLineText = (*m_lines)[m_nextLine];
        m_nextLine = (m_nextLine + 1) % m_lines->size();
    }
    if (m_replay)
        TakeReplayed();
    ComposedView message = m_composer.ComposeView(m_kind);
    m_state.Priority = NextPriority();
    if (m_active) {
        m_batchSeqs.push_back(m_active->NextSeq());
        message = m_active->Apply(message, m_clock.EpochMicroseconds());
    }
    const std::size_t start = out.size();
    if (m_countAtOnce)
        out.append(m_octets.Room(), ' ');
    AppendComposedPacket(out, m_state.Priority, message, m_noPriority, m_state.CorruptData == 1, m_oversize, m_crlf);
    if (m_countAtOnce) {
        m_octets.Count(out, start);
        return;
    }
    if (m_sizeMax != 0) {
        const bool hex = StartsWithNoCase(message.MessageBody, "HEX=");
        FitToSize(out, start, message.Format == MessageFormat::Rfc5424 && !hex, message.MessageBody.size(),
                  m_active ? m_active->TokenLength() : 0);
    }
    if (m_framing != Framing::None)
        FrameInPlace(out, start, m_framing);
}

std::int16_t PacketStream::NextPriority() const
{
    return m_typedPriority ? *m_typedPriority : static_cast<std::int16_t>(MessagePriority(m_priorityInputs));
}

const Stamp *PacketStream::TakeStamp(Stamp &stamp, std::int64_t nowUs)
{
    if (!m_active)
        return nullptr;
    const std::uint64_t seq = m_active->NextSeq();
    m_batchSeqs.push_back(seq);
    m_active->SetNextSeq(seq + 1);
    stamp = {m_active->Run(), m_active->Stream(), seq, nowUs, m_active->MacOf(seq, nowUs)};
    return &stamp;
}

MessageTemplate &PacketStream::NextRendered(TemplateContext &context, Stamp &stamp, std::size_t &index)
{
    if (m_set)
        index = m_set->NextIndex();
    if (m_numbered) {
        // As the composer numbers it: in 64 bits, so a counter stored out of range wraps.
        const std::int64_t next = static_cast<std::int64_t>(m_state.SequenceNumber) + 1;
        m_state.SequenceNumber = next >= CounterWrap ? 0 : static_cast<std::int32_t>(next);
        context.seq = static_cast<std::uint64_t>(next);
    }
    m_state.Priority = NextPriority();
    context.priority = m_state.Priority;
    context.nowUs = m_clock.EpochMicroseconds();
    context.stamp = TakeStamp(stamp, context.nowUs);
    if (!m_set)
        return m_compiled[context.stamp ? 1 : 0];
    context.seq = context.stamp ? stamp.seq : ++m_count;
    return m_messages[index];
}

char *PacketStream::RenderAt(char *at, MessageTemplate &message, const TemplateContext &context)
{
    return m_countAtOnce ? m_octets.Count(at, message.Render(m_octets.Start(at), context))
                         : message.Render(at, context);
}

char *PacketStream::Scratch(std::size_t count)
{
    if (m_scratch.size() < count * m_room)
        m_scratch.resize(count * m_room);
    return m_scratch.data();
}

void PacketStream::AppendRendered(std::string &out)
{
    TemplateContext context;
    Stamp stamp;
    std::size_t index = 0;
    MessageTemplate &message = NextRendered(context, stamp, index);
    char *const at = Scratch(1);
    const std::size_t start = out.size();
    out.append(at, RenderAt(at, message, context));
    if (m_sizeMax == 0)
        return;
    if (m_set)
        FitTemplatedToSize(out, start, index, context);
    else
        FitToSize(out, start, m_rfc5424, m_bodyLength + m_numbers * DigitsOf(context.seq),
                  context.stamp && !m_rfc5424 ? m_active->TokenLengthOf(stamp.seq, stamp.sentUs) : 0);
    if (m_framing != Framing::None)
        FrameInPlace(out, start, m_framing);
}

void PacketStream::TakeReplayed()
{
    std::string &text = m_state.MultiLineText;
    text.clear();
    ReplayLine line;
    if (!m_replay->Next(line)) {
        // Its pace read the same lines: a file that ends here was cut short.
        if (m_replayFault.empty())
            m_replayFault = !m_replay->Outcome() ? m_replay->Outcome().Why()
                                                 : "'" + m_replay->Path() + "' changed while it was replayed";
        return;
    }
    if (!m_rewriteTime) {
        text.assign(line.text);
        return;
    }
    const std::int64_t now = m_clock.EpochMicroseconds();
    // A time-zone lookup per line costs more than the line.
    const std::int64_t second = now / 1000000;
    if (second != m_offsetSecond) {
        m_offsetSecond = second;
        m_utcOffset = m_clock.UtcOffsetSeconds(second);
    }
    AppendRewritten(text, line, now, m_utcOffset);
}

void PacketStream::Skip(std::int64_t count)
{
    ReplayLine line;
    for (std::int64_t i = 0; m_replay && i < count && m_replay->Next(line); ++i) {
    }
}

std::size_t PacketStream::DrawSize() const
{
    return m_sizeMin == m_sizeMax
               ? m_sizeMin
               : static_cast<std::size_t>(RandomInteger(static_cast<std::int32_t>(m_sizeMin),
                                                        static_cast<std::int32_t>(m_sizeMax - m_sizeMin + 1)));
}

void PacketStream::FitTemplatedToSize(std::string &out, std::size_t start, std::size_t index,
                                      const TemplateContext &context)
{
    const std::size_t size = DrawSize();
    const std::size_t length = out.size() - start;
    if (length == size)
        return;
    char head[1024];
    std::size_t floor = start;
    if (m_heads[index].MaxLength(context) <= sizeof head)
        floor += static_cast<std::size_t>(m_heads[index].Render(head, context) - head);
    std::size_t end = out.size() - m_lineEnd.size();
    // Text goes in or out before a stamp at the end of the message, which
    // stays whole: the header's token, or a pack's last field.
    if (context.stamp) {
        const std::string_view text(out.data() + floor, end - floor);
        const std::size_t key = text.rfind(StampFormat::TokenPrefix.substr(0, StampFormat::TokenPrefix.size() - 1));
        if (key != std::string_view::npos && key > 0 && text.find(']', key) == std::string_view::npos) {
            // " quillon=", "\tquillon=" or ",\"quillon\":\""
            const std::size_t lead = text[key - 1] == '"' && key >= 2 ? 2 : 1;
            end = floor + key - lead;
        }
    }
    if (length > size) {
        const std::size_t cut = std::min(length - size, end - floor);
        out.erase(end - cut, cut);
        return;
    }
    // A JSON record stays one: white space before its closing brace, or
    // before the stamp, its last member.
    const std::size_t text = out.find_first_not_of(' ', floor);
    if (text < end && out[text] == '{' && out[out.size() - m_lineEnd.size() - 1] == '}') {
        out.insert(out[end - 1] == '}' ? end - 1 : end, size - length, ' ');
        return;
    }
    out.insert(end, size - length, 'x');
}

void PacketStream::FitToSize(std::string &out, std::size_t start, bool rfc5424, std::size_t bodyLength,
                             std::size_t tokenLength)
{
    const std::size_t size = DrawSize();
    const std::size_t length = out.size() - start;
    if (length == size)
        return;
    // Text goes in or out at the end of the message's own text: before an
    // RFC 3164 stamp token, and never into an RFC 5424 header that holds a stamp.
    std::size_t end = out.size() - (m_crlf ? 2 : 0) - tokenLength;
    const std::size_t floor = m_active && rfc5424 ? end - bodyLength : start;
    if (length > size) {
        const std::size_t cut = std::min(length - size, end - floor);
        out.erase(end - cut, cut);
        return;
    }
    std::size_t pad = size - length;
    // RFC 5424 puts a space between the header and a message.
    if (rfc5424 && bodyLength == 0) {
        out.insert(end++, 1, ' ');
        --pad;
    }
    out.insert(end, pad, 'x');
}

void PacketStream::Withdraw(std::size_t handed)
{
    if (m_active && handed < m_batchSeqs.size())
        m_active->SetNextSeq(m_batchSeqs[handed]);
}
