// Reads any bytes as RFC 5424: fields must lie inside the message, the
// structured data must walk to its end, and values unescape.
//
// bash scripts/fuzz.sh 60 Rfc5424ParserFuzz
#include "engine/Rfc5424Parser.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void Inside(std::string_view outer, std::string_view part)
{
    if (part.empty())
        return;
    if (part.data() < outer.data() || part.data() + part.size() > outer.data() + outer.size())
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view message(reinterpret_cast<const char *>(data), size);
    std::string text;
    const std::size_t length = StructuredDataLength(message);
    if (length > message.size())
        std::abort();

    Rfc5424Fields fields;
    if (!ParseRfc5424(message, fields))
        return 0;
    if (fields.priority < 0 || fields.priority > 191 || fields.version < 1 || fields.version > 99)
        std::abort();
    for (std::string_view part : {fields.timestamp, fields.hostname, fields.appName, fields.procId, fields.msgId,
                                  fields.structuredData, fields.msg})
        Inside(message, part);
    if (fields.structuredData != "-") {
        SdElementReader reader(fields.structuredData);
        std::string_view id;
        std::string_view name;
        std::string_view value;
        while (reader.NextElement(id))
            while (reader.NextParam(name, value))
                AppendUnescaped(text, value);
        if (reader.Malformed() || !reader.Rest().empty())
            std::abort();
    }
    return 0;
}
