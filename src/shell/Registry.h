#pragma once

#include <string>

enum class RegistryRoot { LocalMachine, CurrentUser };

// There is no system registry here: every read falls back to its default.
std::string ReadRegistryString(RegistryRoot root, const std::string &keyPath, const std::string &valueName,
                               const std::string &defaultValue);
