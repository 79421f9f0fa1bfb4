#include "engine/MessageTemplate.h"

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

struct PickTable;

// Files read once for all the templates compiled with one cache: the lines
// of a ${line} file, and its Zipf weights per exponent.
struct TemplateFileCache {
    std::map<std::string, std::shared_ptr<const PickTable>> tables;
};

std::shared_ptr<TemplateFileCache> MakeTemplateFileCache()
{
    return std::make_shared<TemplateFileCache>();
}

// The texts a pick slot chooses from, one after another in one string, and
// for weighted picks an alias table (Walker's method), so a pick by weight
// costs one draw and no search however many texts there are: a column of
// those with a weight above 0, each kept when the draw's low bits fall below
// its threshold and its alias taken otherwise.
struct PickTable {
    // A record of each text, its length in the last byte, when all are short
    // and not too many: a pick copies a whole record and reads nothing else.
    static constexpr std::size_t RecordSize = 32;
    static constexpr std::size_t MostRecords = 4096;
    std::vector<std::array<char, RecordSize>> records;
    std::string pool;
    std::vector<std::uint32_t> starts;
    std::vector<std::uint32_t> lengths;
    std::vector<std::uint32_t> column;
    std::vector<std::uint32_t> threshold;
    std::vector<std::uint32_t> alias;
    std::size_t longest = 0;

    void Add(std::string_view text)
    {
        starts.push_back(static_cast<std::uint32_t>(pool.size()));
        lengths.push_back(static_cast<std::uint32_t>(text.size()));
        pool += text;
        longest = std::max(longest, text.size());
    }
    // Room to copy the last text in whole steps (CopyPadded).
    void Seal()
    {
        pool.append(32, '\0');
        if (longest >= RecordSize || starts.size() > MostRecords)
            return;
        records.resize(starts.size());
        for (std::size_t i = 0; i < starts.size(); ++i) {
            std::memcpy(records[i].data(), pool.data() + starts[i], lengths[i]);
            records[i][RecordSize - 1] = static_cast<char>(lengths[i]);
        }
    }

    // weights[i] >= 0 for each text, not all 0.
    void Weigh(const std::vector<double> &weights)
    {
        double sum = 0;
        for (std::size_t i = 0; i < weights.size(); ++i)
            if (weights[i] > 0) {
                column.push_back(static_cast<std::uint32_t>(i));
                sum += weights[i];
            }
        const std::size_t n = column.size();
        std::vector<double> share(n);
        std::vector<std::size_t> small;
        std::vector<std::size_t> large;
        for (std::size_t j = 0; j < n; ++j) {
            share[j] = weights[column[j]] * static_cast<double>(n) / sum;
            (share[j] < 1 ? small : large).push_back(j);
        }
        threshold.assign(n, 0xffffffffu);
        alias.assign(column.begin(), column.end());
        while (!small.empty() && !large.empty()) {
            const std::size_t less = small.back();
            const std::size_t more = large.back();
            small.pop_back();
            threshold[less] = static_cast<std::uint32_t>(share[less] * 4294967296.0);
            alias[less] = column[more];
            share[more] -= 1 - share[less];
            if (share[more] < 1) {
                large.pop_back();
                small.push_back(more);
            }
        }
    }
};

enum class PartKind : std::uint8_t {
    Literal,
    Ip,
    Ipv6,
    Int,
    Hex,
    Uuid,
    Pick,
    Counter,
    Seq,
    Priority,
    Time,
    Stamp,
    Text
};

// A slot and the literal run before it, so a message takes one step per
// slot; a Literal part is a run with no slot after it.
struct MessageTemplate::Part {
    PartKind kind = PartKind::Literal;
    StampForm form = StampForm::Token;
    // The run before the slot, in m_literals.
    std::uint32_t prefixStart = 0;
    std::uint32_t prefixLength = 0;
    // Hex: the digits; Time: its TimeText; Text: the context's text.
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    // Int: the low end and the count of values (0: all 2^64).
    std::int64_t low = 0;
    std::uint64_t span = 0;
    std::shared_ptr<const PickTable> pick;
};

// The stamp's text up to its number, kept while the run and stream stay, and
// its time's text while the time stays: within a batch only the number changes.
struct MessageTemplate::StampCache {
    bool made = false;
    std::string run;
    std::uint64_t stream = 0;
    StampForm form = StampForm::Token;
    // Each with room to copy it in whole steps (CopyPadded).
    char head[128] = {};
    std::size_t headLength = 0;
    std::int64_t sentUs = -1;
    char time[48] = {};
    std::size_t timeLength = 0;
    // The last number written, counted on in place when the next follows it.
    std::uint64_t seq = 0;
    char seqText[40] = {};
    std::size_t seqLength = 0;

    // The digits of next in seqText, their count returned: a number one
    // above the last is counted on in place, without a division.
    std::size_t CountOn(std::uint64_t next)
    {
        if (seqLength == 0 || next != seq + 1 || seq == UINT64_MAX) {
            seqLength = static_cast<std::size_t>(std::to_chars(seqText, seqText + 24, next).ptr - seqText);
        } else {
            std::size_t i = seqLength;
            while (i > 0 && seqText[i - 1] == '9')
                seqText[--i] = '0';
            if (i == 0) {
                std::memmove(seqText + 1, seqText, seqLength++);
                seqText[0] = '1';
            } else {
                ++seqText[i - 1];
            }
        }
        seq = next;
        return seqLength;
    }
};

namespace {
constexpr std::size_t StampRoom = 192;
constexpr std::size_t NumberRoom = 20;
constexpr std::size_t LongestHex = 4096;

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

char *PutPick(char *out, const PickTable &table, std::uint64_t bits)
{
    std::size_t index;
    if (table.column.empty()) {
        index = UniformBelow(bits, table.starts.size());
    } else {
        // The high bits choose the column, the low ones between it and its alias.
        const std::size_t at = UniformBelow(bits, table.column.size());
        index = (bits & 0xffffffffu) < table.threshold[at] ? table.column[at] : table.alias[at];
    }
    if (!table.records.empty()) {
        const std::array<char, PickTable::RecordSize> &record = table.records[index];
        std::memcpy(out, record.data(), PickTable::RecordSize);
        return out + static_cast<unsigned char>(record.back());
    }
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

// ---- Reading a template text ----

// The field's argument split at each separator that no backslash escapes;
// the pieces still hold their escapes.
std::vector<std::string_view> SplitArgument(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == separator) {
            pieces.push_back(text.substr(from, i - from));
            from = i + 1;
        }
    }
    pieces.push_back(text.substr(from));
    return pieces;
}

// Where the last separator that no backslash escapes stands, or npos.
std::size_t LastSeparator(std::string_view text, char separator)
{
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == separator)
            last = i;
    }
    return last;
}

std::string Unescape(std::string_view text)
{
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size())
            ++i;
        plain.push_back(text[i]);
    }
    return plain;
}

bool ReadInteger(std::string_view text, std::int64_t &value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ReadDecimal(std::string_view text, double &value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value);
}

std::string Quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

// The non-empty lines of a file, read once per cache.
std::shared_ptr<const PickTable> FileLines(const std::string &path, TemplateFileCache &cache, std::string &error)
{
    const auto found = cache.tables.find(path);
    if (found != cache.tables.end())
        return found->second;
    const Result<TextLines> lines = TextLines::Read(path);
    if (!lines) {
        error = lines.Why();
        return nullptr;
    }
    auto table = std::make_shared<PickTable>();
    for (std::size_t i = 0; i < lines->Count(); ++i)
        if (!lines->Line(i).empty())
            table->Add(lines->Line(i));
    if (table->starts.empty()) {
        error = Quoted(path) + " has no lines";
        return nullptr;
    }
    table->Seal();
    cache.tables.emplace(path, table);
    return table;
}

class FieldReader {
public:
    FieldReader(const MessageTemplate::Options &options, TemplateFileCache &files) : m_options(options), m_files(files)
    {}

    // The field's part, or nothing with the reason in error.
    bool Read(std::string_view name, std::optional<std::string_view> argument, MessageTemplate &out,
              std::string &error);

private:
    bool NoArgument(std::optional<std::string_view> argument, std::string_view name, std::string &error)
    {
        if (argument)
            error = Quoted(name) + " takes no value";
        return !argument;
    }
    std::string PathOf(std::string_view name) const
    {
        std::string path = Unescape(name);
        if (!m_options.folder.empty() && !path.empty() && path[0] != '/')
            path = m_options.folder + "/" + path;
        return path;
    }

    const MessageTemplate::Options &m_options;
    TemplateFileCache &m_files;
};
} // namespace

// A friend's view of the parts, so the reader adds slots the builder methods
// do not offer.
struct TemplateParts {
    static void AddInt(MessageTemplate &t, std::int64_t low, std::uint64_t span);
    static void AddHex(MessageTemplate &t, std::size_t digits);
    static void AddPick(MessageTemplate &t, std::shared_ptr<const PickTable> table);
    static void AddKind(MessageTemplate &t, PartKind kind, std::size_t width, std::size_t draws = 0);
    static void AddStrftime(MessageTemplate &t, const std::string &format, const Clock &clock);
};

namespace {
const Clock &ClockOf(const MessageTemplate::Options &options)
{
    static const SystemClock system;
    return options.clock ? *options.clock : system;
}

bool FieldReader::Read(std::string_view name, std::optional<std::string_view> argument, MessageTemplate &out,
                       std::string &error)
{
    if (name == "ip" || name == "ipv6" || name == "uuid" || name == "counter" || name == "seq" || name == "pri") {
        if (!NoArgument(argument, name, error))
            return false;
        if (name == "ip")
            TemplateParts::AddKind(out, PartKind::Ip, 15, 1);
        else if (name == "ipv6")
            TemplateParts::AddKind(out, PartKind::Ipv6, 39, 2);
        else if (name == "uuid")
            TemplateParts::AddKind(out, PartKind::Uuid, 36, 2);
        else if (name == "counter")
            out.AddCounter();
        else if (name == "seq")
            out.AddSeq();
        else
            out.AddPriority();
        return true;
    }
    if (name == "int") {
        const std::vector<std::string_view> ends =
            argument ? SplitArgument(*argument, ':') : std::vector<std::string_view>{};
        std::int64_t low = 0;
        std::int64_t high = 0;
        if (ends.size() != 2) {
            error = "an integer range is written int:LOW:HIGH";
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (!ReadInteger(ends[i], i == 0 ? low : high)) {
                error = Quoted(ends[i]) + " is not a whole number from -2^63 to 2^63-1";
                return false;
            }
        }
        if (low > high) {
            error = std::to_string(low) + " is above " + std::to_string(high);
            return false;
        }
        TemplateParts::AddInt(out, low, static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low) + 1);
        return true;
    }
    if (name == "hex") {
        std::int64_t digits = 0;
        if (!argument || !ReadInteger(*argument, digits) || digits < 1 ||
            digits > static_cast<std::int64_t>(LongestHex)) {
            error = "the count of hex digits must be from 1 to " + std::to_string(LongestHex);
            return false;
        }
        TemplateParts::AddHex(out, static_cast<std::size_t>(digits));
        return true;
    }
    if (name == "choice" || name == "weighted") {
        if (!argument || argument->empty()) {
            error = Quoted(name) + " needs its texts";
            return false;
        }
        auto table = std::make_shared<PickTable>();
        const bool weighted = name == "weighted";
        double sum = 0;
        std::vector<double> weights;
        for (std::string_view item : SplitArgument(*argument, weighted ? ',' : '|')) {
            if (!weighted) {
                table->Add(Unescape(item));
                continue;
            }
            const std::size_t equals = LastSeparator(item, '=');
            double weight = 0;
            if (equals == std::string_view::npos || !ReadDecimal(item.substr(equals + 1), weight) || weight < 0) {
                error = Quoted(item) + " is not TEXT=WEIGHT with a weight of 0 or more";
                return false;
            }
            table->Add(Unescape(item.substr(0, equals)));
            weights.push_back(weight);
            sum += weight;
        }
        if (weighted && !(sum > 0 && std::isfinite(sum))) {
            error = "the weights add up to 0";
            return false;
        }
        if (weighted)
            table->Weigh(weights);
        table->Seal();
        TemplateParts::AddPick(out, std::move(table));
        return true;
    }
    if (name == "line" || name == "zipf") {
        if (!argument || argument->empty()) {
            error = Quoted(name) + " needs a file";
            return false;
        }
        std::string_view file = *argument;
        double exponent = 0;
        if (name == "zipf") {
            const std::size_t colon = LastSeparator(file, ':');
            if (colon == std::string_view::npos || !ReadDecimal(file.substr(colon + 1), exponent) || exponent <= 0 ||
                exponent > 100) {
                error = "a Zipf field is written zipf:FILE:S with S above 0 (1.1, say)";
                return false;
            }
            file = file.substr(0, colon);
        }
        const std::string path = PathOf(file);
        std::shared_ptr<const PickTable> lines = FileLines(path, m_files, error);
        if (!lines)
            return false;
        if (name == "zipf") {
            const std::string key = path + '\0' + std::to_string(exponent);
            auto &shared = m_files.tables[key];
            if (!shared) {
                auto weighted = std::make_shared<PickTable>(*lines);
                std::vector<double> weights;
                for (std::size_t k = 1; k <= weighted->starts.size(); ++k)
                    weights.push_back(std::pow(static_cast<double>(k), -exponent));
                weighted->Weigh(weights);
                shared = std::move(weighted);
            }
            lines = shared;
        }
        TemplateParts::AddPick(out, std::move(lines));
        return true;
    }
    if (name == "time") {
        const std::string format = argument ? Unescape(*argument) : std::string("rfc3339");
        if (const std::optional<TimeFormat> named = ParseTimeFormat(format)) {
            out.AddTime(*named, ClockOf(m_options));
            return true;
        }
        if (format.find('%') == std::string::npos) {
            error = "unknown time format " + Quoted(format) +
                    " (rfc3339, rfc3339_us, rfc3164, epoch, epoch_ms, apache or a strftime format)";
            return false;
        }
        if (std::string fault = TimeText::CheckStrftime(format); !fault.empty()) {
            error = std::move(fault);
            return false;
        }
        TemplateParts::AddStrftime(out, format, ClockOf(m_options));
        return true;
    }
    if (name == "stamp") {
        static constexpr std::pair<std::string_view, StampForm> Forms[] = {{"token", StampForm::Token},
                                                                           {"tab", StampForm::TabToken},
                                                                           {"json", StampForm::Json},
                                                                           {"sd", StampForm::Element}};
        const std::string_view form = argument.value_or("token");
        for (const auto &[text, value] : Forms) {
            if (text == form) {
                out.AddStamp(value);
                return true;
            }
        }
        error = "unknown stamp form " + Quoted(form) + " (token, tab, json or sd)";
        return false;
    }
    error = "unknown field " + Quoted(name);
    return false;
}
} // namespace

void TemplateParts::AddInt(MessageTemplate &t, std::int64_t low, std::uint64_t span)
{
    MessageTemplate::Part part;
    part.kind = PartKind::Int;
    part.low = low;
    part.span = span;
    t.AddPart(std::move(part), NumberRoom, 1);
}

void TemplateParts::AddHex(MessageTemplate &t, std::size_t digits)
{
    MessageTemplate::Part part;
    part.kind = PartKind::Hex;
    part.length = static_cast<std::uint32_t>(digits);
    t.AddPart(std::move(part), digits, (digits + 15) / 16);
}

void TemplateParts::AddPick(MessageTemplate &t, std::shared_ptr<const PickTable> table)
{
    MessageTemplate::Part part;
    part.kind = PartKind::Pick;
    const std::size_t width = table->longest;
    part.pick = std::move(table);
    t.AddPart(std::move(part), width, 1);
}

void TemplateParts::AddKind(MessageTemplate &t, PartKind kind, std::size_t width, std::size_t draws)
{
    MessageTemplate::Part part;
    part.kind = kind;
    t.AddPart(std::move(part), width, draws);
}

void TemplateParts::AddStrftime(MessageTemplate &t, const std::string &format, const Clock &clock)
{
    MessageTemplate::Part part;
    part.kind = PartKind::Time;
    part.start = static_cast<std::uint32_t>(t.m_times.size());
    t.m_times.emplace_back(TimeFormat::Strftime, clock, format);
    t.AddPart(std::move(part), TimeText::Longest);
}

Result<MessageTemplate> MessageTemplate::Compile(std::string_view text, const Options &options)
{
    std::shared_ptr<TemplateFileCache> files = options.files ? options.files : std::make_shared<TemplateFileCache>();
    FieldReader reader(options, *files);
    MessageTemplate compiled;
    std::size_t literalFrom = 0;
    std::size_t i = 0;
    const auto flushLiteral = [&](std::size_t end) {
        compiled.AddLiteral(text.substr(literalFrom, end - literalFrom));
    };
    while (i < text.size()) {
        if (text.compare(i, 3, "$${") == 0) {
            flushLiteral(i + 1); // up to and with the first "$"
            literalFrom = i + 2;
            i += 3;
            continue;
        }
        if (text.compare(i, 2, "${") != 0) {
            ++i;
            continue;
        }
        flushLiteral(i);
        const std::size_t column = i + options.firstColumn;
        std::size_t close = i + 2;
        while (close < text.size() && text[close] != '}')
            close += text[close] == '\\' ? 2 : 1;
        if (close >= text.size())
            return Status::Failure("the field at column " + std::to_string(column) + " has no closing '}'");
        const std::string_view field = text.substr(i + 2, close - i - 2);
        const std::size_t colon = field.find(':');
        const std::string_view name = field.substr(0, colon);
        const std::optional<std::string_view> argument =
            colon == std::string_view::npos ? std::nullopt : std::optional<std::string_view>(field.substr(colon + 1));
        std::string reason;
        if (!reader.Read(name, argument, compiled, reason))
            return Status::Failure("field ${" + std::string(field) + "} at column " + std::to_string(column) + ": " +
                                   reason);
        i = close + 1;
        literalFrom = i;
    }
    flushLiteral(text.size());
    return compiled;
}

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

bool MessageTemplate::HasStamp() const
{
    return std::any_of(m_parts.begin(), m_parts.end(), [](const Part &part) { return part.kind == PartKind::Stamp; });
}

bool MessageTemplate::Empty() const
{
    return m_parts.empty();
}

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
                out = WriteStamp(out, part.form, *context.stamp);
            break;
        case PartKind::Text:
            if (part.start < context.texts.size()) {
                const std::string_view text = context.texts[part.start];
                std::memcpy(out, text.data(), text.size());
                out += text.size();
            }
            break;
        }
    }
    return out;
}

char *MessageTemplate::WriteStamp(char *out, StampForm form, const Stamp &stamp)
{
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
            static constexpr std::string_view Before[] = {" ", "\t", ",\"", ""};
            text.insert(0, Before[static_cast<int>(form)]);
            if (form == StampForm::Json) {
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
