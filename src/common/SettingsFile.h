#pragma once

#include <QSettings>

#include <string>
#include <string_view>

// The per-user settings store: group "Settings" of "Wren Quillon.ini" in the
// user's configuration folder, and nothing else. Keys and texts are UTF-8 bytes.
class SettingsFile {
public:
    SettingsFile();

    // The stored text, or the default when the key is missing.
    std::string Text(std::string_view key, std::string_view defaultText) const;
    // The stored text's leading number, or the default when the key is
    // missing or the number lies outside [min, max].
    double Number(std::string_view key, double min, double max, double defaultValue) const;
    // Number rounded to an integer, halves to even.
    int Index(std::string_view key, double min, double max, double defaultValue) const;

    // For writing; the group is already open.
    QSettings &Store() { return m_settings; }
    static QString FileName();

private:
    QSettings m_settings;
};
