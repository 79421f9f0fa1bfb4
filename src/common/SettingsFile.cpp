#include "common/SettingsFile.h"

#include "common/Numbers.h"
#include "common/QtText.h"

#include <QStringList>

namespace {
const QString ApplicationName = QStringLiteral("Wren Quillon");
}

SettingsFile::SettingsFile() : m_settings(QSettings::IniFormat, QSettings::UserScope, ApplicationName)
{
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
    return QSettings(QSettings::IniFormat, QSettings::UserScope, ApplicationName).fileName();
}
