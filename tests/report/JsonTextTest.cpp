#include "report/JsonText.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {
// Valid UTF-8 stays itself; each byte outside a valid sequence shows as \xHH
// and the rest of the text is read on from the next byte.
TEST(JsonText, ValidUtf8StaysAndOtherBytesShowAsHexWhileTheLineStaysValidJson)
{
    const std::pair<std::string, QString> cases[] = {
        {"plain \"quoted\" \\ text", QStringLiteral("plain \"quoted\" \\ text")},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", QStringLiteral("café € 😀")},
        {"\x00\x01\n\x7f"s, QString(QChar(0)) + QStringLiteral("\x01\n\x7f")},
        {"\xff\xfe ok \x80", QStringLiteral("\\xff\\xfe ok \\x80")},
        {"\xc0\xaf overlong, \xed\xa0\x80 surrogate", QStringLiteral("\\xc0\\xaf overlong, \\xed\\xa0\\x80 surrogate")},
        {"cut \xe2\x82", QStringLiteral("cut \\xe2\\x82")},
        {"\xe2\x82\xc3\xa9", QStringLiteral("\\xe2\\x82é")},
    };
    for (const auto &[bytes, text] : cases) {
        const QJsonValue value = JsonText(bytes);
        EXPECT_EQ(value.toString(), text) << bytes;
        QJsonObject object;
        object.insert(QStringLiteral("text"), value);
        const std::string line = JsonLine(object);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        QJsonParseError error;
        const QJsonDocument parsed = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_EQ(parsed.object().value(QStringLiteral("text")).toString(), text) << line;
    }
}
} // namespace
