#pragma once

#include <QString>

#include <string>
#include <string_view>

// Typed text becomes bytes in UTF-8; bytes shown in a widget are read as UTF-8.
inline std::string ToBytes(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

inline QString FromBytes(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
