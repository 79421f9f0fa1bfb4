#include "engine/Stamp.h"

#include "engine/Rfc5424Parser.h"

#include <array>
#include <charconv>
#include <limits>

namespace {
constexpr std::uint64_t MaxNumber = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

bool IsRunByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Plain decimal, no sign, no leading zero, at most 2^63-1.
bool ReadNumber(std::string_view text, std::uint64_t &value)
{
    if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1))
        return false;
    std::uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (number > MaxNumber)
        return false;
    value = number;
    return true;
}

// Lowercase hex digits' values, -1 for other bytes: read without a branch
// per digit, as MACs are random digits that no branch predicts.
constexpr std::array<std::int8_t, 256> HexValues = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 16; ++i)
        values[static_cast<unsigned char>("0123456789abcdef"[i])] = static_cast<std::int8_t>(i);
    return values;
}();

bool ReadMac(std::string_view text, std::uint64_t &value)
{
    if (text.size() != StampFormat::MacDigits)
        return false;
    std::uint64_t number = 0;
    int invalid = 0;
    for (char c : text) {
        const int digit = HexValues[static_cast<unsigned char>(c)];
        invalid |= digit;
        number = number << 4 | static_cast<std::uint64_t>(digit & 0xf);
    }
    value = number;
    return invalid >= 0;
}

void AppendNumber(std::string &out, std::uint64_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

bool IsTrailingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

// run, stream, seq, t, mac: 0..4; -1 for another name. Read per message, so
// without a string compare per candidate.
int StampField(std::string_view name)
{
    switch (name.size()) {
    case 1:
        return name[0] == 't' ? 3 : -1;
    case 3:
        return name == "run" ? 0 : name == "seq" ? 2 : name == "mac" ? 4 : -1;
    case 6:
        return name == "stream" ? 1 : -1;
    default:
        return -1;
    }
}

StampSearch ReadElement(SdElementReader &reader, Stamp &stamp)
{
    std::string_view fields[5];
    bool seen[5] = {false, false, false, false, false};
    std::string_view name;
    std::string_view value;
    while (reader.NextParam(name, value)) {
        const int field = StampField(name);
        if (field < 0)
            continue;
        if (seen[field])
            return StampSearch::Malformed;
        seen[field] = true;
        fields[field] = value;
    }
    if (reader.Malformed() || !seen[0] || !seen[1] || !seen[2] || !seen[3])
        return StampSearch::Malformed;
    return ReadStampFields(fields[0], fields[1], fields[2], fields[3], stamp, seen[4] ? &fields[4] : nullptr)
               ? StampSearch::Found
               : StampSearch::Malformed;
}

// The stamp element among the structured data, or None.
StampSearch FromStructuredData(std::string_view structuredData, Stamp &stamp)
{
    SdElementReader reader(structuredData);
    std::string_view id;
    while (reader.NextElement(id))
        if (id == StampFormat::SdId)
            return ReadElement(reader, stamp);
    return StampSearch::None;
}

// "#015" and the like: a control character as rsyslog writes it by default
// (a CR left before LF, a tab, a NUL), which a stamp token is never made of.
bool EndsInEscapedControl(std::string_view text)
{
    if (text.size() < 4 || text[text.size() - 4] != '#')
        return false;
    int value = 0;
    for (char c : text.substr(text.size() - 3)) {
        if (c < '0' || c > '7')
            return false;
        value = value * 8 + (c - '0');
    }
    return value < 040 || value == 0177;
}

// RUN:STREAM:SEQ:T, or with :MAC after it when keyed.
bool ReadTokenValue(std::string_view rest, Stamp &stamp)
{
    std::string_view parts[4];
    for (int i = 0; i < 3; ++i) {
        const std::size_t colon = rest.find(':');
        if (colon == std::string_view::npos)
            return false;
        parts[i] = rest.substr(0, colon);
        rest.remove_prefix(colon + 1);
    }
    // A keyed token has its MAC after a fourth colon.
    const std::size_t colon = rest.find(':');
    parts[3] = rest.substr(0, colon);
    const std::string_view mac = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    return ReadStampFields(parts[0], parts[1], parts[2], parts[3], stamp,
                           colon == std::string_view::npos ? nullptr : &mac);
}

StampSearch FromToken(std::string_view message, Stamp &stamp)
{
    for (;;) {
        if (!message.empty() && IsTrailingBlank(message.back()))
            message.remove_suffix(1);
        else if (EndsInEscapedControl(message))
            message.remove_suffix(4);
        else
            break;
    }
    const std::size_t at = message.rfind(StampFormat::TokenPrefix);
    // After a blank, or a tab as rsyslog escapes it (a LEEF attribute).
    if (at == std::string_view::npos ||
        (at > 0 && message[at - 1] != ' ' && message[at - 1] != '\t' && !message.substr(0, at).ends_with("#011")))
        return StampSearch::None;
    return ReadTokenValue(message.substr(at + StampFormat::TokenPrefix.size()), stamp) ? StampSearch::Found
                                                                                       : StampSearch::Malformed;
}

// The JSON member "quillon":"RUN:STREAM:SEQ:T", also with its quotes escaped
// (\"quillon\":\"...\") as a daemon writes a message into a JSON string.
// Only a few candidates are read, as each may be a value, not a key.
StampSearch FromJsonMember(std::string_view message, Stamp &stamp)
{
    constexpr std::string_view Name = "quillon";
    constexpr int MaxCandidates = 4;
    int tried = 0;
    for (std::size_t at = message.find(Name); at != std::string_view::npos && tried < MaxCandidates;
         at = message.find(Name, at + 1)) {
        if (at == 0 || message[at - 1] != '"')
            continue;
        ++tried;
        const std::string_view quote = at >= 2 && message[at - 2] == '\\' ? "\\\"" : "\"";
        std::string_view rest = message.substr(at + Name.size());
        if (!rest.starts_with(quote))
            continue;
        rest.remove_prefix(quote.size());
        const auto skipBlanks = [&rest] {
            while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t'))
                rest.remove_prefix(1);
        };
        skipBlanks();
        if (rest.empty() || rest[0] != ':')
            continue;
        rest.remove_prefix(1);
        skipBlanks();
        if (!rest.starts_with(quote))
            return StampSearch::Malformed;
        rest.remove_prefix(quote.size());
        const std::size_t end = rest.find(quote);
        if (end == std::string_view::npos)
            return StampSearch::Malformed;
        return ReadTokenValue(rest.substr(0, end), stamp) ? StampSearch::Found : StampSearch::Malformed;
    }
    return StampSearch::None;
}
} // namespace

bool IsValidRunId(std::string_view run)
{
    if (run.empty() || run.size() > StampFormat::MaxRunLength)
        return false;
    for (char c : run)
        if (!IsRunByte(c))
            return false;
    return true;
}

std::string RunIdFromNumber(std::uint64_t random)
{
    static constexpr char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string run(12, '0');
    for (char &c : run) {
        c = Digits[random % 36];
        random /= 36;
    }
    return run;
}

void AppendStampToken(std::string &message, const Stamp &stamp)
{
    if (!message.empty() && message.back() != ' ')
        message.push_back(' ');
    message += StampFormat::TokenPrefix;
    message += stamp.run;
    message.push_back(':');
    AppendNumber(message, stamp.stream);
    message.push_back(':');
    AppendNumber(message, stamp.seq);
    message.push_back(':');
    AppendNumber(message, static_cast<std::uint64_t>(stamp.sentUs));
    if (stamp.mac) {
        message.push_back(':');
        AppendStampMac(message, *stamp.mac);
    }
}

void AppendStampElement(std::string &out, const Stamp &stamp)
{
    out.push_back('[');
    out += StampFormat::SdId;
    out += " run=\"";
    out += stamp.run;
    out += "\" stream=\"";
    AppendNumber(out, stamp.stream);
    out += "\" seq=\"";
    AppendNumber(out, stamp.seq);
    out += "\" t=\"";
    AppendNumber(out, static_cast<std::uint64_t>(stamp.sentUs));
    if (stamp.mac) {
        out += "\" mac=\"";
        AppendStampMac(out, *stamp.mac);
    }
    out += "\"]";
}

void AppendStampMac(std::string &out, std::uint64_t mac)
{
    static constexpr char Digits[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4)
        out.push_back(Digits[(mac >> shift) & 0xf]);
}

bool ReadStampFields(std::string_view run, std::string_view stream, std::string_view seq, std::string_view sentUs,
                     Stamp &stamp, const std::string_view *mac)
{
    Stamp read;
    std::uint64_t time = 0;
    std::uint64_t macValue = 0;
    if (!IsValidRunId(run) || !ReadNumber(stream, read.stream) || !ReadNumber(seq, read.seq) || read.seq == 0 ||
        !ReadNumber(sentUs, time) || (mac && !ReadMac(*mac, macValue)))
        return false;
    if (mac)
        read.mac = macValue;
    read.run = run;
    read.sentUs = static_cast<std::int64_t>(time);
    stamp = read;
    return true;
}

StampSearch FindStamp(std::string_view message, Stamp &stamp)
{
    Rfc5424Fields fields;
    std::string_view structuredData;
    if (ParseRfc5424Header(message, fields, structuredData) && !structuredData.empty() && structuredData[0] == '[') {
        const StampSearch found = FromStructuredData(structuredData, stamp);
        if (found != StampSearch::None)
            return found;
    }
    // The token, which only counts at the very end, goes before an element
    // found anywhere: message text may hold one that is not the stamp.
    const StampSearch token = FromToken(message, stamp);
    if (token == StampSearch::Found)
        return token;
    const StampSearch member = FromJsonMember(message, stamp);
    if (member == StampSearch::Found)
        return member;
    // A daemon may write the element behind a prefix of its own. Text that
    // only looks like one (in a value, in the message) does not hide a real
    // element after it; a few such are read at most, as each may run to the
    // end of the message.
    constexpr std::string_view Opening = "[quillon@32473";
    constexpr int MaxElementsTried = 4;
    bool malformed = token == StampSearch::Malformed || member == StampSearch::Malformed;
    int tried = 0;
    for (std::size_t element = message.find(Opening); element != std::string_view::npos && tried < MaxElementsTried;
         element = message.find(Opening, element + 1), ++tried) {
        SdElementReader reader(message.substr(element));
        std::string_view id;
        if (!reader.NextElement(id)) {
            malformed = true;
        } else if (id == StampFormat::SdId) {
            if (ReadElement(reader, stamp) == StampSearch::Found)
                return StampSearch::Found;
            malformed = true;
        }
    }
    return malformed ? StampSearch::Malformed : StampSearch::None;
}
