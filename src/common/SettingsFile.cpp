#include "common/SettingsFile.h"

#include "common/Numbers.h"
#include "common/QtText.h"

#include <QStandardPaths>
#include <QStringList>

// Opened by its name, so the store is the user's file alone: a system-wide
// file of the same name never fills in keys the user's file lacks.
SettingsFile::SettingsFile() : m_settings(FileName(), QSettings::IniFormat)
{
    m_settings.setFallbacksEnabled(false);
    m_settings.beginGroup(QStringLiteral("Settings"));
}

std::string SettingsFile::Text(std::string_view key, std::string_view defaultText) const
{
    const QVariant value = m_settings.value(FromBytes(key));
    if (!value.isValid())
        return std::string(defaultText);
    // An unquoted value with commas, typed into the file by hand, comes back
    // as a list; it was meant as one text.
    if (value.typeId() == QMetaType::QStringList)
        return ToBytes(value.toStringList().join(QStringLiteral(", ")));
    return ToBytes(value.toString());
}

double SettingsFile::Number(std::string_view key, double min, double max, double defaultValue) const
{
    return RangeOrDefault(ReadLeadingNumber(Text(key, ShortestDecimal(defaultValue))), min, max, defaultValue);
}

int SettingsFile::Index(std::string_view key, double min, double max, double defaultValue) const
{
    return static_cast<int>(RoundHalfEven(Number(key, min, max, defaultValue)));
}

QString SettingsFile::FileName()
{
    // Found afresh at each opening, so the folder follows XDG_CONFIG_HOME.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Wren Quillon.ini");
}
