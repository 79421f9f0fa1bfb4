#include "common/SettingsRules.h"

std::string HostMessageCountKey(std::string_view trimmedTarget)
{
    std::string key = "HostMessageCount-";
    key.reserve(key.size() + trimmedTarget.size());
    for (const char c : trimmedTarget) {
        if (c == '%')
            key += "%25";
        else if (c == '/')
            key += "%2F";
        else if (c == '\\')
            key += "%5C";
        else
            key.push_back(c);
    }
    return key;
}

std::string SubnetPrefixOf(std::string_view localIp)
{
    const std::string_view address = localIp.empty() ? std::string_view("127.0.0.1") : localIp;
    const auto dot = address.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return "127.0.0.";
    return std::string(address.substr(0, dot + 1));
}
