// Reading the settings store: the input is "Wren Quillon.ini" in a temporary
// configuration folder, read as quillon-send --from-settings reads it, and
// its message format and TLS keys, structured data included, as the window
// reads them.

#include "FuzzSupport.h"
#include "OptionsCheck.h"

#include "cli/send/SavedSettings.h"
#include "common/QtText.h"
#include "common/SettingsFile.h"
#include "engine/MessageFormatStore.h"
#include "engine/StructuredData.h"
#include "transport/TlsSettingsStore.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

namespace {
std::string g_storePath;

// The store caches a file whose size and time have not changed; each input
// gets a time of its own so it is read afresh.
void TouchUniquely(const std::string &path)
{
    static time_t seconds = 1000000000;
    ++seconds;
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    FuzzCheck(::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0, "the store's time could be set");
}

bool operator==(const SdElement &a, const SdElement &b)
{
    if (a.id != b.id || a.params.size() != b.params.size())
        return false;
    for (std::size_t i = 0; i < a.params.size(); ++i)
        if (a.params[i].name != b.params[i].name || a.params[i].value != b.params[i].value)
            return false;
    return true;
}

bool operator==(const MessageFormatSettings &a, const MessageFormatSettings &b)
{
    return a.format == b.format && a.hostName == b.hostName && a.appName == b.appName && a.procId == b.procId &&
           a.msgId == b.msgId && a.sdElements == b.sdElements && a.utf8Bom == b.utf8Bom && a.framing == b.framing;
}

bool operator==(const TlsSettings &a, const TlsSettings &b)
{
    return a.enabled == b.enabled && a.caFile == b.caFile && a.certFile == b.certFile && a.keyFile == b.keyFile &&
           a.serverName == b.serverName && a.verify == b.verify && a.minVersion == b.minVersion;
}

// Keys shared by the window and quillon-send: whatever the file holds, the
// loaded settings pass their checks, and what is saved loads again unchanged.
template <typename Settings>
Settings CheckLoadAndSave(const SettingsFile &store, Settings (*load)(const SettingsFile &, std::vector<std::string> *),
                          void (*save)(SettingsFile &, const Settings &), std::string (*check)(const Settings &),
                          const std::string &what)
{
    std::vector<std::string> ignored;
    const Settings loaded = load(store, &ignored);
    FuzzCheck(check(loaded).empty(), "loaded " + what + " settings pass the checks");
    {
        SettingsFile writer;
        save(writer, loaded);
        writer.Store().sync();
    }
    TouchUniquely(g_storePath);
    ignored.clear();
    FuzzCheck(load(SettingsFile(), &ignored) == loaded && ignored.empty(),
              "saved " + what + " settings load again unchanged");
    return loaded;
}

// Each structured-data element reads back the same once written.
void CheckStructuredData(const MessageFormatSettings &loaded)
{
    for (const std::string &text : loaded.sdElements) {
        SdElement element;
        FuzzCheck(ParseSdElement(text, element).empty(), "a loaded SD element parses");
        const std::string written = SdElementText(element);
        SdElement again;
        FuzzCheck(ParseSdElement(written, again).empty() && again == element, "a written SD element reads back");
        FuzzCheck(SdElementText(again) == written, "an SD element is written the same way each time");
    }
}

// The texts the window writes back as it loaded them.
const char *const SavedTexts[] = {"TargetIPAddress", "SourceIPAddress", "Message",         "MultiLineText",
                                  "FileToReadFrom",  "PortNumber",      "SourcePortNumber"};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Set before the store is first opened: it keeps the folder it found then.
    const std::string config = FuzzFolder() + "/config";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("HOME", FuzzFolder().c_str(), 1);
    ::mkdir(config.c_str(), 0700);
    g_storePath = QFile::encodeName(SettingsFile::FileName()).toStdString();
    FuzzCheck(g_storePath.rfind(config + "/", 0) == 0, "the store lies in the temporary folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TouchUniquely(WriteFuzzFile(g_storePath.substr(FuzzFolder().size() + 1), FuzzBytes(data, size)));

    const Options saved = SavedOptions();
    CheckOptions(saved);
    FuzzCheck(saved.target.empty() || (saved.target.front() != ' ' && saved.target.back() != ' '),
              "the target is trimmed");

    // quillon-send --from-settings: the saved options, then the flags.
    const ParseResult parsed = ParseCommandLine({"--from-settings", "--count", "3", "--every-second"}, saved);
    if (parsed.action == ParseResult::Action::Run) {
        CheckOptions(parsed.options);
        FuzzCheck(parsed.options.crlf ==
                      (IsStream(parsed.options.transport) && parsed.options.messageFormat.framing == Framing::None),
                  "without a flag, CR LF follows the transport and the framing");
    } else
        FuzzCheck(parsed.action == ParseResult::Action::UsageError && !parsed.error.empty(),
                  "saved settings either run or name what is wrong");

    // Every key of the group, as text and as a checked number.
    SettingsFile store;
    const QStringList keys = store.Store().childKeys();
    for (const QString &key : keys) {
        const std::string name = key.toStdString();
        store.Text(name, "");
        const double number = store.Number(name, -1000, 1000, 7.5);
        FuzzCheck(number == 7.5 || (number >= -1000 && number <= 1000), "a checked number lies in its range");
        const int index = store.Index(name, 0, 24, 24);
        FuzzCheck(index >= 0 && index <= 24, "a checked index lies in its range");
    }

    CheckStructuredData(
        CheckLoadAndSave(store, LoadMessageFormat, SaveMessageFormat, CheckMessageFormatSettings, "message format"));
    CheckLoadAndSave(store, LoadTlsSettings, SaveTlsSettings, CheckTlsSettings, "TLS");

    // What the window loaded, it saves; loading that again gives the same texts.
    std::vector<std::pair<const char *, std::string>> loaded;
    for (const char *key : SavedTexts)
        loaded.emplace_back(key, store.Text(key, ""));
    {
        SettingsFile writer;
        for (const auto &[key, text] : loaded)
            writer.Store().setValue(QString::fromUtf8(key), FromBytes(text));
        writer.Store().sync();
        // FormatError may stay from reading a line that is no setting; the file is written all the same.
        FuzzCheck(writer.Store().status() != QSettings::AccessError, "the store could be written");
    }
    TouchUniquely(g_storePath);
    const SettingsFile reloaded;
    for (const auto &[key, text] : loaded)
        FuzzCheck(reloaded.Text(key, "missing") == text, std::string("a saved text reads back unchanged: ") + key);
    return 0;
}
