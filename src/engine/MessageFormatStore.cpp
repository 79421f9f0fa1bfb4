#include "engine/MessageFormatStore.h"

#include "common/QtText.h"
#include "common/SettingsFile.h"
#include "common/TextHelpers.h"
#include "engine/StructuredData.h"

#include <QSettings>

#include <optional>

namespace {
// The stored text (its field's value when the key is missing) goes through
// take, which sets the field or says why it cannot.
template <typename Take>
void LoadField(const SettingsFile &store, const char *key, std::string_view current, Take take,
               std::vector<std::string> *ignored)
{
    const std::string problem = take(TrimSpaces(store.Text(key, current)));
    if (!problem.empty() && ignored)
        ignored->push_back(std::string(key) + ": " + problem);
}

// For a text field whose check gives an error text; empty may stand for a default.
auto Checked(std::string &field, std::string (*check)(std::string_view), bool emptyAllowed = false)
{
    return [&field, check, emptyAllowed](const std::string &text) {
        std::string problem = emptyAllowed && text.empty() ? std::string() : check(text);
        if (problem.empty())
            field = text;
        return problem;
    };
}

// For a field with named choices: "RFC 5424" and "rfc5424" name the same one.
template <typename Value, typename Parse> auto Chosen(Value &field, Parse parse, std::string_view choices)
{
    return [&field, parse, choices](const std::string &text) {
        std::string name;
        for (char c : text)
            if (c != ' ')
                name.push_back(c);
        const auto value = parse(name);
        if (!value)
            return "'" + text + "' is not " + std::string(choices);
        field = *value;
        return std::string();
    };
}
} // namespace

std::string MessageFormatLabel(MessageFormat format)
{
    return format == MessageFormat::Rfc5424 ? "RFC 5424" : "RFC 3164";
}

MessageFormatSettings LoadMessageFormat(const SettingsFile &store, std::vector<std::string> *ignored)
{
    namespace Key = MessageFormatKeys;
    MessageFormatSettings s;
    LoadField(store, Key::Format, MessageFormatLabel(s.format),
              Chosen(s.format, ParseMessageFormat, "RFC 3164 or RFC 5424"), ignored);
    LoadField(store, Key::HostName, s.hostName, Checked(s.hostName, CheckHostName, true), ignored);
    LoadField(store, Key::AppName, s.appName, Checked(s.appName, CheckAppName), ignored);
    LoadField(store, Key::ProcId, s.procId, Checked(s.procId, CheckProcId, true), ignored);
    LoadField(store, Key::MsgId, s.msgId, Checked(s.msgId, CheckMsgId), ignored);
    LoadField(
        store, Key::StructuredData, NilValue,
        [&s](const std::string &text) { return SplitStructuredData(text, s.sdElements); }, ignored);
    const auto bom = [](std::string_view text) -> std::optional<bool> {
        if (text == "0" || text == "1")
            return text == "1";
        return std::nullopt;
    };
    LoadField(store, Key::Bom, "0", Chosen(s.utf8Bom, bom, "0 or 1"), ignored);
    LoadField(store, Key::Framing, FramingName(s.framing),
              Chosen(s.framing, ParseFraming, "none, lf, crlf, nul or octet-count"), ignored);
    return s;
}

void SaveMessageFormat(SettingsFile &store, const MessageFormatSettings &settings)
{
    namespace Key = MessageFormatKeys;
    QSettings &file = store.Store();
    const auto put = [&file](const char *key, std::string_view value) {
        file.setValue(QString::fromLatin1(key), FromBytes(value));
    };
    put(Key::Format, MessageFormatLabel(settings.format));
    put(Key::HostName, settings.hostName);
    put(Key::AppName, settings.appName);
    put(Key::ProcId, settings.procId);
    put(Key::MsgId, settings.msgId);
    std::string sd;
    AppendStructuredData(sd, settings.sdElements);
    put(Key::StructuredData, sd);
    put(Key::Bom, settings.utf8Bom ? "1" : "0");
    put(Key::Framing, FramingName(settings.framing));
}
