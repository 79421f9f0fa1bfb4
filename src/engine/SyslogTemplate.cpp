#include "engine/SyslogTemplate.h"

#include "engine/MessageComposer.h"
#include "engine/MessageTemplateParts.h"
#include "engine/StructuredData.h"

namespace {
constexpr std::size_t MaxTagLength = 32;
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

void AddHost(MessageTemplate &out, const SyslogTemplateSettings &settings)
{
    if (settings.hostFromContext)
        out.AddText(0);
    else
        out.AddLiteral(settings.format.hostName.empty() ? settings.hostName : settings.format.hostName);
}
} // namespace

MessageTemplate SyslogMessageTemplate(const SyslogTemplateSettings &settings, const MessageTemplate &message,
                                      const Clock &clock, std::string_view app)
{
    MessageTemplate out;
    if (!settings.noPriority && settings.priority) {
        out.AddLiteral("<" + std::to_string(*settings.priority) + ">");
    } else if (!settings.noPriority) {
        out.AddLiteral("<");
        out.AddPriority();
        out.AddLiteral(">");
    }
    const MessageFormatSettings &format = settings.format;
    if (format.format == MessageFormat::Rfc5424) {
        out.AddLiteral("1 ");
        out.AddTime(TimeFormat::Rfc3339Micro, clock);
        out.AddLiteral(" ");
        AddHost(out, settings);
        std::string tail;
        for (const std::string &field : {app.empty() ? format.appName : std::string(app),
                                         format.procId.empty() ? DefaultProcId() : format.procId, format.msgId}) {
            tail.push_back(' ');
            tail += field;
        }
        tail.push_back(' ');
        if (!format.sdElements.empty())
            AppendStructuredData(tail, format.sdElements);
        else if (!settings.stamped)
            tail += NilValue;
        out.AddLiteral(tail);
        if (settings.stamped)
            out.AddStamp(StampForm::Element);
        if (!message.Empty()) {
            out.AddLiteral(" ");
            if (format.utf8Bom)
                out.AddLiteral(Utf8Bom);
        }
        out.Add(message);
    } else {
        if (settings.rfc3164Header) {
            out.AddTime(TimeFormat::Rfc3164, clock);
            out.AddLiteral(" ");
            if (!settings.localHeader) {
                AddHost(out, settings);
                out.AddLiteral(" ");
            }
            if (app.empty() && !format.rfc3164Tag.empty()) {
                out.AddLiteral(format.rfc3164Tag + " ");
            } else {
                out.AddLiteral((app.empty() ? RfcTag : app).substr(0, MaxTagLength));
                out.AddLiteral(settings.localHeader ? ": " : " ");
            }
        }
        out.Add(message);
        if (settings.stamped) {
            if (settings.stampSharesSpace)
                out.DropTrailingSpace();
            // A text that ends in a space has the token's own.
            if (settings.stampSharesSpace)
                out.AddStamp(StampForm::Token);
            else
                TemplateParts::AddFittedStamp(out, StampForm::Token);
        }
    }
    out.AddLiteral(settings.lineEnd);
    return out;
}
