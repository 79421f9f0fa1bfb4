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

// Reading a template text into its parts.
std::shared_ptr<TemplateFileCache> MakeTemplateFileCache()
{
    return std::make_shared<TemplateFileCache>();
}

namespace {
constexpr std::size_t LongestHex = 4096;

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
                TemplateParts::AddFittedStamp(out, value);
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
    const bool small = span != 0 && low >= 0 && static_cast<std::uint64_t>(low) + span <= SmallDecimalLimit;
    part.kind = small ? PartKind::SmallInt : PartKind::Int;
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
    if (!table->records.empty()) {
        part.kind = table->columns.empty() ? PartKind::PickRecord : PartKind::WeightedRecord;
        part.span = table->starts.size();
    }
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
