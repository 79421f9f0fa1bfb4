#include "engine/MessageFormat.h"

#include "common/TextHelpers.h"
#include "engine/StructuredData.h"

#include <unistd.h>

namespace {
std::string CheckHeaderField(std::string_view field, std::string_view value, std::size_t maxLength)
{
    const std::string name(field);
    if (value.empty())
        return name + " is empty; \"-\" stands for no value";
    if (value.size() > maxLength)
        return name + " is " + std::to_string(value.size()) + " characters long; at most " + std::to_string(maxLength) +
               " are allowed";
    for (char c : value)
        if (const std::string problem = NotPrintableAscii(c); !problem.empty())
            return name + QuotedIfPrintable(value) + " " + problem;
    return {};
}
} // namespace

std::string NotPrintableAscii(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (code >= 33 && code <= 126)
        return {};
    if (code == ' ')
        return "contains a space";
    static const char hex[] = "0123456789ABCDEF";
    const std::string byte = {'0', 'x', hex[code >> 4], hex[code & 15]};
    return code > 127 ? "contains the byte " + byte + ", which is not US-ASCII"
                      : "contains the control character " + byte;
}

std::string QuotedIfPrintable(std::string_view value)
{
    for (char c : value)
        if (c < 32 || c > 126)
            return {};
    return " '" + std::string(value) + "'";
}

std::string_view MessageFormatName(MessageFormat format)
{
    return MessageFormatNames[static_cast<std::size_t>(format)];
}

std::optional<MessageFormat> ParseMessageFormat(std::string_view name)
{
    for (std::size_t i = 0; i < MessageFormatNames.size(); ++i)
        if (ToLowerAscii(name) == MessageFormatNames[i])
            return static_cast<MessageFormat>(i);
    return std::nullopt;
}

std::string CheckHostName(std::string_view value)
{
    return CheckHeaderField("HOSTNAME", value, 255);
}

std::string CheckAppName(std::string_view value)
{
    return CheckHeaderField("APP-NAME", value, 48);
}

std::string CheckProcId(std::string_view value)
{
    return CheckHeaderField("PROCID", value, 128);
}

std::string CheckMsgId(std::string_view value)
{
    return CheckHeaderField("MSGID", value, 32);
}

std::string CheckMessageFormatSettings(const MessageFormatSettings &settings)
{
    std::string problem;
    if (!settings.hostName.empty())
        problem = CheckHostName(settings.hostName);
    if (problem.empty())
        problem = CheckAppName(settings.appName);
    if (problem.empty() && !settings.procId.empty())
        problem = CheckProcId(settings.procId);
    if (problem.empty())
        problem = CheckMsgId(settings.msgId);
    if (problem.empty())
        problem = CheckSdElements(settings.sdElements);
    return problem;
}

std::string DefaultProcId()
{
    return std::to_string(getpid());
}
