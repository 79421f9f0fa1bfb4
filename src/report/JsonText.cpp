#include "report/JsonText.h"

#include <QByteArrayView>
#include <QJsonDocument>
#include <QString>

#include <algorithm>

namespace {
// The length a UTF-8 sequence claims by its first byte, 1 for a byte that
// cannot start one.
std::size_t ClaimedLength(unsigned char lead)
{
    if (lead >= 0xf0)
        return 4;
    if (lead >= 0xe0)
        return 3;
    if (lead >= 0xc0)
        return 2;
    return 1;
}
} // namespace

QJsonValue JsonText(std::string_view bytes)
{
    const QByteArrayView all(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (all.isValidUtf8())
        return QString::fromUtf8(all);
    QString text;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = std::min(ClaimedLength(lead), bytes.size() - at);
        const QByteArrayView piece(bytes.data() + at, static_cast<qsizetype>(length));
        // Qt's check refuses overlong forms, surrogates and values past U+10FFFF.
        if (piece.isValidUtf8()) {
            text += QString::fromUtf8(piece);
            at += length;
        } else {
            text += QStringLiteral("\\x%1").arg(lead, 2, 16, QLatin1Char('0'));
            ++at;
        }
    }
    return text;
}

std::string JsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}
