#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class TlsVersion { Tls12, Tls13 };

// "1.2" or "1.3"; nothing for any other text.
[[nodiscard]] inline std::optional<TlsVersion> TlsVersionFromText(std::string_view text)
{
    if (text == "1.2")
        return TlsVersion::Tls12;
    if (text == "1.3")
        return TlsVersion::Tls13;
    return std::nullopt;
}

inline std::string_view TlsVersionText(TlsVersion version)
{
    return version == TlsVersion::Tls13 ? "1.3" : "1.2";
}

// What the user chose for TLS on a TCP session. Plain data: the window and
// the command line fill it, TlsClientContext::Create checks and loads it.
struct TlsSettings {
    bool enabled = false;
    // PEM file of the CAs that sign the server's certificate; empty: the
    // system's trust store.
    std::string caFile;
    // Client certificate (PEM, the certificate first, then any chain) and its
    // key (PEM; empty: the key is in certFile). Both empty: none is offered.
    std::string certFile;
    std::string keyFile;
    // The name the server's certificate must carry, sent as SNI; empty: the
    // session's target host. An IP address is checked against the
    // certificate's IP addresses and is not sent as SNI.
    std::string serverName;
    // False accepts any server certificate: only on the user's explicit choice.
    bool verify = true;
    TlsVersion minVersion = TlsVersion::Tls12;
};

// The receiving side: a certificate and key, and with requireClientCertificate
// a client certificate signed by a CA of caFile is required.
struct TlsServerSettings {
    std::string certFile;
    std::string keyFile; // empty: the key is in certFile
    std::string caFile;
    bool requireClientCertificate = false;
    TlsVersion minVersion = TlsVersion::Tls12;
};

// A setting that cannot be used, found before any connection: which file it
// is about, and the reason in the user's words (naming the file).
struct TlsSetupError {
    enum class File { None, CaFile, Certificate, Key };
    File file = File::None;
    std::string message;
};
