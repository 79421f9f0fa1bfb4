#pragma once

#include <QString>

class Quillon;

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
