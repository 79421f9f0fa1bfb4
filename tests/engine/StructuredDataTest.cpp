#include "engine/StructuredData.h"
#include "engine/MessageFormat.h"

#include <gtest/gtest.h>

#include <functional>

namespace {
// Written back from what was read, an element comes out as it went in.
TEST(ParseSdElement, ReadsElementsInRfc5424SyntaxAndUnescapesValues)
{
    const std::string cases[] = {
        R"([exampleSDID@32473 iut="3" eventSource="App"])",
        "[a]",
        R"([x@1.2.3 v="q\" b\\ r\]" v=""])",
        "[origin ip=\"Grüße\tå\"]",
        "[" + std::string(32, 'i') + " " + std::string(32, 'n') + "=\"1\"]",
    };
    for (const std::string &text : cases) {
        SdElement element;
        EXPECT_EQ(ParseSdElement(text, element), "") << text;
        EXPECT_EQ(SdElementText(element), text);
    }
    SdElement element;
    ParseSdElement(cases[2], element);
    EXPECT_EQ(element.params.front().value, R"(q" b\ r])");
}

TEST(ParseSdElement, NamesWhatIsWrong)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a]", "an SD element starts with '['"},
        {"[]", "SD-ID is empty"},
        {"[a b=\"1\"", "SD element 'a' has no closing ']'"},
        {"[a b=\"1]", "unescaped ']' in value of 'b' (write \\])"},
        {"[a b=\"x\\y\"]", "unescaped '\\' in value of 'b' (write \\\\)"},
        {"[a b=\"1\"c\"]", "value of 'b' is not followed by a space or ']' (an unescaped '\"' in it? write \\\")"},
        {"[a b=\"x", "value of 'b' has no closing '\"'"},
        {"[a b=\"\xC3\"]", "PARAM-VALUE of 'b' is not UTF-8"},
        {"[a  b=\"1\"]", "a space in SD element 'a' is not followed by a PARAM-NAME"},
        {"[a b]", "PARAM-NAME 'b' is not followed by =\""},
        {"[a b=\"1\"][c]", "text follows the closing ']' of SD element 'a' (one element at a time)"},
        {"[a=\"1\"]", "SD-ID 'a=\"1\"' contains '='"},
        {"[a@ b=\"1\"]", "SD-ID 'a@' needs an enterprise number after '@' (such as 32473)"},
        {"[@1]", "SD-ID '@1' has no name before '@'"},
        {"[a@1@2]", "SD-ID 'a@1@2' contains '@' twice"},
        {"[" + std::string(33, 'i') + "]",
         "SD-ID '" + std::string(33, 'i') + "' is 33 characters long; at most 32 are allowed"},
    };
    for (const auto &[text, error] : cases)
        EXPECT_EQ(CheckSdElementText(text), error) << text;
}

TEST(HeaderFields, AcceptPrintableAsciiUpToTheirLength)
{
    using Check = std::function<std::string(std::string_view)>;
    const std::tuple<Check, std::string, std::string> cases[] = {
        {CheckHostName, "", "HOSTNAME is empty; \"-\" stands for no value"},
        {CheckHostName, std::string(255, 'h'), ""},
        {CheckHostName, std::string(256, 'h'), "HOSTNAME is 256 characters long; at most 255 are allowed"},
        {CheckAppName, std::string(49, 'a'), "APP-NAME is 49 characters long; at most 48 are allowed"},
        {CheckAppName, "my app", "APP-NAME 'my app' contains a space"},
        {CheckAppName, "app\xC3\xA9", "APP-NAME contains the byte 0xC3, which is not US-ASCII"},
        {CheckProcId, std::string(129, '1'), "PROCID is 129 characters long; at most 128 are allowed"},
        {CheckMsgId, "!~[]\"=", ""},
        {CheckMsgId, std::string(33, 'm'), "MSGID is 33 characters long; at most 32 are allowed"},
        {CheckMsgId, "ID\x7F", "MSGID contains the control character 0x7F"},
    };
    for (const auto &[check, value, error] : cases)
        EXPECT_EQ(check(value), error) << value;

    MessageFormatSettings settings;
    EXPECT_EQ(CheckMessageFormatSettings(settings), ""); // empty host and process id are the machine's
    settings.sdElements = {"[a b=\"]\"]"};
    EXPECT_EQ(CheckMessageFormatSettings(settings), "unescaped ']' in value of 'b' (write \\])");
    settings.msgId = "";
    EXPECT_EQ(CheckMessageFormatSettings(settings), "MSGID is empty; \"-\" stands for no value");
    EXPECT_EQ(ParseMessageFormat("RFC5424"), MessageFormat::Rfc5424);
    EXPECT_EQ(ParseMessageFormat("5424"), std::nullopt);
}
} // namespace
