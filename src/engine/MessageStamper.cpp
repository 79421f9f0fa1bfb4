#include "engine/MessageStamper.h"

#include "common/TextHelpers.h"
#include "engine/Stamp.h"

namespace {
constexpr std::string_view HexPrefix = "HEX=";
} // namespace

MessageStamper::MessageStamper(std::string run, std::uint64_t stream) : m_run(std::move(run)), m_stream(stream)
{}

ComposedView MessageStamper::Apply(const ComposedView &message, std::int64_t sentUs)
{
    if (StartsWithNoCase(message.MessageBody, HexPrefix))
        return message;
    const Stamp stamp{m_run, m_stream, m_next++, sentUs};
    ComposedView stamped = message;
    if (message.Format == MessageFormat::Rfc5424) {
        // The header ends in its structured data: "-" or elements, which end in "]".
        std::string_view header = message.RfcHeaderText;
        if (!header.empty() && header.back() == '-')
            header.remove_suffix(1);
        m_header.assign(header);
        AppendStampElement(m_header, stamp);
        stamped.RfcHeaderText = m_header;
    } else {
        m_body.assign(message.MessageBody);
        AppendStampToken(m_body, stamp);
        stamped.MessageBody = m_body;
    }
    return stamped;
}
