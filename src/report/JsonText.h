#pragma once

#include <QJsonObject>
#include <QJsonValue>

#include <string>
#include <string_view>

// A byte string as a JSON string, so any bytes give valid JSON: UTF-8
// sequences become their characters, and each byte that is not part of a
// valid sequence becomes the four characters \xHH (lower-case hex), so its
// value is kept. Control characters and NUL stay characters, which JSON
// escapes itself.
QJsonValue JsonText(std::string_view bytes);

// The object on one line, as the command-line programs print JSON.
std::string JsonLine(const QJsonObject &object);
