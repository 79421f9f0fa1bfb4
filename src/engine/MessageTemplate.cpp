#include "engine/MessageTemplate.h"

#include "engine/MessageTemplateParts.h"

#include "common/Clock.h"
#include "common/Numbers.h"
#include "common/Random.h"
#include "engine/RandomValues.h"
#include "engine/Stamp.h"
#include "sources/TextLines.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>

namespace {
constexpr std::size_t StampRoom = 192;

// Copies in whole 32-byte steps, inlined, where a call to memcpy would
// cost more than the copy: both sides have that much room past the end
// (Slack). The short runs most fields sit between take one step, whatever
// their length, so no branch waits on it.
constexpr std::size_t Slack = 32;

void CopyLong(char *out, const char *from, std::size_t length)
{
    if (length > 256) {
        std::memcpy(out, from, length);
        return;
    }
    for (std::size_t i = Slack; i < length; i += Slack)
        std::memcpy(out + i, from + i, Slack);
}

inline char *CopyPadded(char *out, const char *from, std::size_t length)
{
    std::memcpy(out, from, Slack);
    if (length > Slack) [[unlikely]]
        CopyLong(out, from, length);
    return out + length;
}

char *PutSigned(char *out, std::int64_t value)
{
    if (value < 0) {
        *out++ = '-';
        return WriteDecimal(out, 0 - static_cast<std::uint64_t>(value));
    }
    return WriteDecimal(out, static_cast<std::uint64_t>(value));
}

// The high bits choose a column, the low ones between it and its alias.
std::size_t WeightedIndex(const PickTable &table, std::uint64_t bits)
{
    const PickTable::Column &column = table.columns[UniformBelow(bits, table.columns.size())];
    // Chosen by a mask, not a branch: on random bits a branch misses often.
    const std::uint32_t keep = 0u - static_cast<std::uint32_t>((bits & 0xffffffffu) < column.threshold);
    return column.alias ^ ((column.text ^ column.alias) & keep);
}

char *PutRecord(char *out, const PickTable &table, std::size_t index)
{
    const std::array<char, PickTable::RecordSize> &record = table.records[index];
    std::memcpy(out, record.data(), PickTable::RecordSize);
    return out + static_cast<unsigned char>(record.back());
}

// A pick whose texts do not fit records (those are slot kinds of their own).
char *PutPick(char *out, const PickTable &table, std::uint64_t bits)
{
    const std::size_t index =
        table.columns.empty() ? UniformBelow(bits, table.starts.size()) : WeightedIndex(table, bits);
    return CopyPadded(out, table.pool.data() + table.starts[index], table.lengths[index]);
}

// Run ids are a few bytes: compared inline, not by a call.
bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

char *PutPriority(char *out, int priority)
{
    if (priority < 0 || priority >= 1000)
        return std::to_chars(out, out + 12, priority).ptr;
    if (priority >= 100)
        *out++ = static_cast<char>('0' + priority / 100);
    if (priority >= 10)
        *out++ = static_cast<char>('0' + priority / 10 % 10);
    *out++ = static_cast<char>('0' + priority % 10);
    return out;
}
} // namespace

MessageTemplate::MessageTemplate() = default;
MessageTemplate::~MessageTemplate() = default;
MessageTemplate::MessageTemplate(MessageTemplate &&) noexcept = default;
MessageTemplate &MessageTemplate::operator=(MessageTemplate &&) noexcept = default;

MessageTemplate::MessageTemplate(const MessageTemplate &other)
    : m_parts(other.m_parts), m_literals(other.m_literals), m_times(other.m_times), m_fixedWidth(other.m_fixedWidth),
      m_draws(other.m_draws), m_counter(other.m_counter)
{}

MessageTemplate &MessageTemplate::operator=(const MessageTemplate &other)
{
    if (this != &other) {
        MessageTemplate copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void MessageTemplate::AddPart(Part part, std::size_t width, std::size_t draws)
{
    m_fixedWidth += width;
    m_draws += draws;
    // The run before the slot becomes its prefix.
    if (!m_parts.empty() && m_parts.back().kind == PartKind::Literal) {
        part.prefixStart = m_parts.back().prefixStart;
        part.prefixLength = m_parts.back().prefixLength;
        m_parts.pop_back();
    }
    m_parts.push_back(std::move(part));
}

void MessageTemplate::AddLiteral(std::string_view text)
{
    if (text.empty())
        return;
    m_fixedWidth += text.size();
    // Runs that meet are one copy.
    if (m_parts.empty() || m_parts.back().kind != PartKind::Literal) {
        Part part;
        part.prefixStart = static_cast<std::uint32_t>(m_literals.size());
        m_parts.push_back(std::move(part));
    }
    m_parts.back().prefixLength += static_cast<std::uint32_t>(text.size());
    m_literals += text;
}

void MessageTemplate::AddPriority()
{
    TemplateParts::AddKind(*this, PartKind::Priority, 11);
}

void MessageTemplate::AddTime(TimeFormat format, const Clock &clock)
{
    Part part;
    part.kind = PartKind::Time;
    part.start = static_cast<std::uint32_t>(m_times.size());
    m_times.emplace_back(format, clock);
    AddPart(std::move(part), TimeText::Longest);
}

void MessageTemplate::AddCounter()
{
    TemplateParts::AddKind(*this, PartKind::Counter, NumberRoom);
}

void MessageTemplate::AddSeq()
{
    TemplateParts::AddKind(*this, PartKind::Seq, NumberRoom);
}

void MessageTemplate::AddStamp(StampForm form)
{
    Part part;
    part.kind = PartKind::Stamp;
    part.form = form;
    AddPart(std::move(part), StampRoom);
}

void TemplateParts::AddFittedStamp(MessageTemplate &t, StampForm form)
{
    using Part = MessageTemplate::Part;
    std::string_view before;
    if (!t.m_parts.empty() && t.m_parts.back().kind == PartKind::Literal) {
        const Part &run = t.m_parts.back();
        before = std::string_view(t.m_literals).substr(run.prefixStart, run.prefixLength);
    }
    Part part;
    part.kind = PartKind::Stamp;
    part.form = form;
    if (t.m_parts.empty()) {
        part.lead = false;
    } else if (form == StampForm::Json) {
        const std::size_t end = before.find_last_not_of(" \t\r\n");
        part.lead = end == std::string_view::npos || (before[end] != '{' && before[end] != ',');
    } else if (!before.empty()) {
        part.lead = before.back() != ' ' && before.back() != '\t';
    }
    t.AddPart(std::move(part), StampRoom);
}

void MessageTemplate::AddText(std::size_t index)
{
    Part part;
    part.kind = PartKind::Text;
    part.start = static_cast<std::uint32_t>(index);
    AddPart(std::move(part), 0);
}

void MessageTemplate::Add(const MessageTemplate &other)
{
    const std::size_t width = m_fixedWidth + other.m_fixedWidth;
    const std::size_t draws = m_draws + other.m_draws;
    const auto timeShift = static_cast<std::uint32_t>(m_times.size());
    m_times.insert(m_times.end(), other.m_times.begin(), other.m_times.end());
    for (Part part : other.m_parts) {
        AddLiteral(std::string_view(other.m_literals).substr(part.prefixStart, part.prefixLength));
        if (part.kind == PartKind::Literal)
            continue;
        if (part.kind == PartKind::Time)
            part.start += timeShift;
        part.prefixLength = 0;
        AddPart(std::move(part), 0);
    }
    m_fixedWidth = width;
    m_draws = draws;
}

bool MessageTemplate::DropTrailingSpace()
{
    if (m_parts.empty() || m_parts.back().kind != PartKind::Literal || m_literals.empty() || m_literals.back() != ' ')
        return false;
    m_literals.pop_back();
    m_pool.clear();
    --m_fixedWidth;
    if (--m_parts.back().prefixLength == 0)
        m_parts.pop_back();
    return true;
}

std::size_t MessageTemplate::MaxLength(const TemplateContext &context) const
{
    std::size_t length = m_fixedWidth + Slack;
    for (const Part &part : m_parts)
        if (part.kind == PartKind::Text && part.start < context.texts.size())
            length += context.texts[part.start].size();
    return length;
}

std::size_t MessageTemplate::Footprint() const
{
    // The pool is the literals again, made at the first render.
    return sizeof(MessageTemplate) + m_parts.capacity() * sizeof(Part) + 2 * (m_literals.capacity() + Slack) +
           m_times.capacity() * sizeof(TimeText) + m_draws * sizeof(std::uint64_t) + MaxLength({});
}

StampFit MessageTemplate::FitStamp()
{
    constexpr std::string_view Blank = " \t\r\n";
    const auto literalOf = [this](const Part &part) {
        return std::string_view(m_literals).substr(part.prefixStart, part.prefixLength);
    };
    const std::string_view last =
        !m_parts.empty() && m_parts.back().kind == PartKind::Literal ? literalOf(m_parts.back()) : "";
    const std::size_t end = last.find_last_not_of(Blank);
    const char closing = end == std::string_view::npos ? '\0' : last[end];
    const std::string_view first = m_parts.empty() ? "" : literalOf(m_parts.front());
    const std::size_t start = first.find_first_not_of(Blank);
    const bool object = start != std::string_view::npos && first[start] == '{';
    if (closing == '}' && object) {
        // The last run splits at its brace: the stamp takes the run before it
        // as its prefix, and the brace and what follows stay a run of their own.
        Part tail = m_parts.back();
        m_parts.pop_back();
        if (end > 0) {
            Part run;
            run.prefixStart = tail.prefixStart;
            run.prefixLength = static_cast<std::uint32_t>(end);
            m_parts.push_back(run);
        }
        TemplateParts::AddFittedStamp(*this, StampForm::Json);
        tail.prefixStart += static_cast<std::uint32_t>(end);
        tail.prefixLength -= static_cast<std::uint32_t>(end);
        m_parts.push_back(tail);
        m_pool.clear();
        return StampFit::Json;
    }
    if (closing == '}' || closing == ']' || closing == '>')
        return StampFit::None;
    return StampFit::Token;
}

bool MessageTemplate::HasStamp() const
{
    return std::any_of(m_parts.begin(), m_parts.end(), [](const Part &part) { return part.kind == PartKind::Stamp; });
}

bool MessageTemplate::Empty() const
{
    return m_parts.empty();
}

// The slot switch's default spares its jump a range check; this keeps a kind
// added without its case a warning all the same.
#pragma GCC diagnostic push
#pragma GCC diagnostic warning "-Wswitch-enum"
char *MessageTemplate::Render(char *out, const TemplateContext &context)
{
    // The literals with room to copy the last in whole steps; they only grow.
    if (m_pool.size() != m_literals.size() + Slack) {
        m_pool = m_literals;
        m_pool.append(Slack, '\0');
    }
    // The message's random draws in one go, taken from left to right.
    if (m_bits.size() != m_draws)
        m_bits.resize(m_draws);
    if (m_draws > 0)
        NextRandomBlock(m_bits.data(), m_draws);
    const std::uint64_t *draw = m_bits.data();
    // Bytes written through out may alias anything, so what the loop reads
    // after them is read into locals first rather than again from memory.
    const char *const pool = m_pool.data();
    const Part *const end = m_parts.data() + m_parts.size();
    for (const Part *next = m_parts.data(); next != end; ++next) {
        const Part &part = *next;
        const PartKind kind = part.kind;
        const PickTable *const pick = part.pick.get();
        out = CopyPadded(out, pool + part.prefixStart, part.prefixLength);
        switch (kind) {
        case PartKind::Literal:
            break;
        case PartKind::Ip:
            out = WriteRandomIpv4(out, *draw++);
            break;
        case PartKind::Ipv6:
            out = WriteRandomIpv6(out, draw[0], draw[1]);
            draw += 2;
            break;
        case PartKind::Int: {
            const std::uint64_t bits = *draw++;
            const std::uint64_t offset = part.span == 0 ? bits : UniformBelow(bits, part.span);
            out = PutSigned(out, static_cast<std::int64_t>(static_cast<std::uint64_t>(part.low) + offset));
            break;
        }
        case PartKind::SmallInt: {
            const auto value =
                static_cast<std::uint32_t>(static_cast<std::uint64_t>(part.low) + UniformBelow(*draw++, part.span));
            const DecimalWord text = SmallDecimal(value);
            std::memcpy(out, &text.word, 8);
            out += text.digits;
            break;
        }
        case PartKind::Hex:
            out = WriteRandomHex(out, part.length, draw);
            draw += (part.length + 15) / 16;
            break;
        case PartKind::Uuid:
            out = WriteRandomUuid(out, draw[0], draw[1]);
            draw += 2;
            break;
        case PartKind::Pick:
            out = PutPick(out, *pick, *draw++);
            break;
        case PartKind::PickRecord:
            out = PutRecord(out, *pick, UniformBelow(*draw++, part.span));
            break;
        case PartKind::WeightedRecord:
            out = PutRecord(out, *pick, WeightedIndex(*pick, *draw++));
            break;
        case PartKind::Counter:
            out = WriteDecimal(out, m_counter++);
            break;
        case PartKind::Seq:
            out = WriteDecimal(out, context.seq);
            break;
        case PartKind::Priority:
            out = PutPriority(out, context.priority);
            break;
        case PartKind::Time: {
            const std::string_view time = m_times[part.start].At(context.nowUs);
            out = CopyPadded(out, time.data(), time.size());
            break;
        }
        case PartKind::Stamp:
            if (context.stamp)
                out = WriteStamp(out, part, *context.stamp);
            break;
        case PartKind::Text:
            if (part.start < context.texts.size()) {
                const std::string_view text = context.texts[part.start];
                std::memcpy(out, text.data(), text.size());
                out += text.size();
            }
            break;
        default:
            __builtin_unreachable();
        }
    }
    return out;
}
#pragma GCC diagnostic pop

char *MessageTemplate::WriteStamp(char *out, const Part &part, const Stamp &stamp)
{
    const StampForm form = part.form;
    static constexpr char Lead[] = {' ', '\t', ','};
    if (part.lead && form != StampForm::Element)
        *out++ = Lead[static_cast<int>(form)];
    if (!m_stampCache)
        m_stampCache = std::make_unique<StampCache>();
    StampCache &cache = *m_stampCache;
    if (!cache.made || cache.form != form || cache.stream != stamp.stream || !SameText(cache.run, stamp.run)) {
        cache.made = true;
        cache.form = form;
        cache.stream = stamp.stream;
        cache.run = stamp.run;
        const Stamp sample{cache.run, stamp.stream, 1, 0};
        std::string text;
        if (form == StampForm::Element) {
            AppendStampElement(text, sample);
            text.resize(text.rfind("seq=\"") + 5);
        } else {
            AppendStampToken(text, sample);
            text.resize(text.size() - 3); // "1:0"
            if (form == StampForm::Json) {
                text.insert(0, "\"");
                // "quillon=" becomes "\"quillon\":\""
                const std::size_t equals = text.find('=');
                text.replace(equals, 1, "\":\"");
            }
        }
        cache.headLength = std::min(text.size(), sizeof cache.head - Slack);
        std::memcpy(cache.head, text.data(), cache.headLength);
        cache.sentUs = -1;
        cache.seqLength = 0;
    }
    if (cache.sentUs != stamp.sentUs) {
        cache.sentUs = stamp.sentUs;
        const std::string_view between = form == StampForm::Element ? "\" t=\"" : ":";
        std::memcpy(cache.time, between.data(), between.size());
        cache.timeLength = static_cast<std::size_t>(
            WriteDecimal(cache.time + between.size(), static_cast<std::uint64_t>(stamp.sentUs)) - cache.time);
    }
    out = CopyPadded(out, cache.head, cache.headLength);
    out = CopyPadded(out, cache.seqText, cache.CountOn(stamp.seq));
    out = CopyPadded(out, cache.time, cache.timeLength);
    if (stamp.mac) {
        if (form == StampForm::Element) {
            std::memcpy(out, "\" mac=\"", 7);
            out += 7;
        } else {
            *out++ = ':';
        }
        out = WriteHexDigits(out, *stamp.mac, 16);
    }
    if (form == StampForm::Element) {
        *out++ = '"';
        *out++ = ']';
    } else if (form == StampForm::Json) {
        *out++ = '"';
    }
    return out;
}

char *MessageTemplate::RenderOctetCounted(char *out, const TemplateContext &context)
{
    return m_octets.Count(out, Render(m_octets.Start(out), context));
}

void MessageTemplate::AppendTo(std::string &out, const TemplateContext &context)
{
    const std::size_t at = out.size();
    out.resize(at + MaxLength(context));
    char *end = Render(out.data() + at, context);
    out.resize(static_cast<std::size_t>(end - out.data()));
}
