#include "transport/TlsSettingsStore.h"

#include "common/QtText.h"
#include "common/SettingsFile.h"
#include "common/TextHelpers.h"

#include <QSettings>

#include <optional>

namespace {
std::optional<bool> Switch(std::string_view text)
{
    if (text == "0" || text == "1")
        return text == "1";
    return std::nullopt;
}

// The stored text (its field's value when the key is missing) is taken when
// parse accepts it; otherwise the field keeps its default and why is noted.
template <typename Value, typename Parse>
void LoadChoice(const SettingsFile &store, const char *key, Value &field, std::string_view current, Parse parse,
                std::string_view choices, std::vector<std::string> *ignored)
{
    const std::string text = TrimSpaces(store.Text(key, current));
    if (const auto value = parse(text)) {
        field = *value;
        return;
    }
    if (ignored)
        ignored->push_back(std::string(key) + ": '" + text + "' is not " + std::string(choices));
}

std::string LoadPath(const SettingsFile &store, const char *key)
{
    return TrimSpaces(store.Text(key, ""));
}
} // namespace

TlsSettings LoadTlsSettings(const SettingsFile &store, std::vector<std::string> *ignored)
{
    TlsSettings s;
    LoadChoice(store, TlsKeys::Enabled, s.enabled, "0", Switch, "0 or 1", ignored);
    s.caFile = LoadPath(store, TlsKeys::CaFile);
    s.certFile = LoadPath(store, TlsKeys::CertFile);
    s.keyFile = LoadPath(store, TlsKeys::KeyFile);
    // A key alone fails the settings' check, so it falls back like any other value.
    if (s.certFile.empty() && !s.keyFile.empty()) {
        if (ignored)
            ignored->push_back(std::string(TlsKeys::KeyFile) + ": " + CheckTlsSettings(s));
        s.keyFile.clear();
    }
    const std::string serverName = LoadPath(store, TlsKeys::ServerName);
    if (const std::string problem = CheckTlsServerName(serverName); problem.empty())
        s.serverName = serverName;
    else if (ignored)
        ignored->push_back(std::string(TlsKeys::ServerName) + ": " + problem);
    LoadChoice(store, TlsKeys::Verify, s.verify, "1", Switch, "0 or 1", ignored);
    LoadChoice(store, TlsKeys::MinVersion, s.minVersion, "1.2", TlsVersionFromText, "1.2 or 1.3", ignored);
    return s;
}

void SaveTlsSettings(SettingsFile &store, const TlsSettings &settings)
{
    QSettings &file = store.Store();
    const auto put = [&file](const char *key, std::string_view value) {
        file.setValue(QString::fromLatin1(key), FromBytes(value));
    };
    put(TlsKeys::Enabled, settings.enabled ? "1" : "0");
    put(TlsKeys::CaFile, settings.caFile);
    put(TlsKeys::CertFile, settings.certFile);
    put(TlsKeys::KeyFile, settings.keyFile);
    put(TlsKeys::ServerName, settings.serverName);
    put(TlsKeys::Verify, settings.verify ? "1" : "0");
    put(TlsKeys::MinVersion, TlsVersionText(settings.minVersion));
}

std::string CheckTlsServerName(std::string_view name)
{
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code == ' ')
            return "the server name '" + std::string(name) + "' contains a space";
        if (code < 32 || code == 127)
            return "the server name contains a control character";
        if (code > 127)
            return "the server name '" + std::string(name) +
                   "' is not plain ASCII; certificates carry such names in their xn-- form";
    }
    return {};
}

std::string CheckTlsSettings(const TlsSettings &settings)
{
    if (settings.certFile.empty() && !settings.keyFile.empty())
        return "the key " + settings.keyFile + " was given without its client certificate";
    return CheckTlsServerName(settings.serverName);
}
