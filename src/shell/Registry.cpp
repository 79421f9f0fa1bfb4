#include "shell/Registry.h"

std::string ReadRegistryString(RegistryRoot, const std::string &, const std::string &, const std::string &defaultValue)
{
    return defaultValue;
}
