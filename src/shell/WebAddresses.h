#pragma once

#include <QString>

// The maker's pages. Reserved example domains stand in until real ones exist.
inline QString WebsiteAddress()
{
    return QStringLiteral("https://www.example.com");
}

inline QString SupportAddress()
{
    return WebsiteAddress() + QStringLiteral("/support");
}

// Where someone without the help file can fetch it.
inline QString HelpRuntimeAddress()
{
    return QStringLiteral("https://www.example.org/quillon/help");
}
