#pragma once

#include <QString>

#include <string>
#include <string_view>

class Quillon;

// The key that holds the sequence counter of one target host. Characters
// the store reads as key separators are escaped, so every target keeps a
// key of its own.
QString HostMessageCountKey(const QString &trimmedTarget);

// The local address up to and including its last dot, "127.0.0." when it
// has no usable dot.
std::string SubnetPrefixOf(std::string_view localIp);

// Every setting of the window, read once at load and written once at unload
// in the per-user store: application "Wren Quillon", section "Settings".
class SettingsStore {
public:
    explicit SettingsStore(Quillon &window);

    void LoadSettings();
    void SaveSettings();

    // Where the store lives on this machine.
    static QString StoreFileName();

private:
    void ReportUnsavedSettings(const QString &fileName, const QString &why);

    Quillon &w;
};
