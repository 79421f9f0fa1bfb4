#pragma once

#include "transport/TlsSettings.h"

#include <string>
#include <string_view>
#include <vector>

class SettingsFile;

// TLS on the TCP session in the settings store, shared by the window and
// quillon-send. Keys of group Settings, every value text:
//   TlsEnabled      0 | 1
//   TlsCaFile       empty: the system's trust store
//   TlsCertFile     empty: no client certificate
//   TlsKeyFile      empty: the key is in the certificate file
//   TlsServerName   empty: the target's host name
//   TlsVerify       0 | 1 (1 when missing)
//   TlsMinVersion   1.2 | 1.3
namespace TlsKeys {
inline constexpr const char *Enabled = "TlsEnabled";
inline constexpr const char *CaFile = "TlsCaFile";
inline constexpr const char *CertFile = "TlsCertFile";
inline constexpr const char *KeyFile = "TlsKeyFile";
inline constexpr const char *ServerName = "TlsServerName";
inline constexpr const char *Verify = "TlsVerify";
inline constexpr const char *MinVersion = "TlsMinVersion";
} // namespace TlsKeys

// A missing key gives its field's default: a store written before these keys
// existed gives TLS off. A stored value that fails the checks gives its
// field's default too; each such value adds "Key: why" to ignored when given.
// Files are not opened here: a missing file is found when a session starts.
TlsSettings LoadTlsSettings(const SettingsFile &store, std::vector<std::string> *ignored = nullptr);

// Writes every key; the caller syncs the store.
void SaveTlsSettings(SettingsFile &store, const TlsSettings &settings);

// Why the name cannot be a server name ("contains a space"), or nothing;
// empty is fine and stands for the target's host name.
[[nodiscard]] std::string CheckTlsServerName(std::string_view name);

// The first problem that shows without opening a file, or nothing.
[[nodiscard]] std::string CheckTlsSettings(const TlsSettings &settings);
