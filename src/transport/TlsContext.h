#pragma once

#include "transport/TlsSettings.h"

#include <memory>
#include <string>

struct ssl_ctx_st;

// The loaded, checked TLS set-up for client sessions: CA file or the system's
// trust store, the client certificate and key, the minimum version. Built once,
// shared by any number of sessions (OpenSSL contexts are thread-safe to share).
class TlsClientContext {
public:
    // Checks every file and the key against the certificate. On failure
    // returns null and fills error; nothing touches the network.
    static std::shared_ptr<const TlsClientContext> Create(const TlsSettings &settings, TlsSetupError &error);
    ~TlsClientContext();
    TlsClientContext(const TlsClientContext &) = delete;
    TlsClientContext &operator=(const TlsClientContext &) = delete;

    const TlsSettings &Settings() const { return m_settings; }
    bool HasClientCertificate() const { return !m_settings.certFile.empty(); }
    ssl_ctx_st *Native() const { return m_context; }

private:
    TlsClientContext(ssl_ctx_st *context, TlsSettings settings);
    ssl_ctx_st *m_context;
    TlsSettings m_settings;
};

// The same for a receiver: its certificate and key, and optionally the CAs
// whose client certificates it requires. Sessions: TlsConnection.
class TlsServerContext {
public:
    static std::shared_ptr<const TlsServerContext> Create(const TlsServerSettings &settings, TlsSetupError &error);
    ~TlsServerContext();
    TlsServerContext(const TlsServerContext &) = delete;
    TlsServerContext &operator=(const TlsServerContext &) = delete;

    const TlsServerSettings &Settings() const { return m_settings; }
    ssl_ctx_st *Native() const { return m_context; }

private:
    TlsServerContext(ssl_ctx_st *context, TlsServerSettings settings);
    ssl_ctx_st *m_context;
    TlsServerSettings m_settings;
};

// Frees what OpenSSL keeps for the calling thread. A thread that used TLS
// calls it last: a thread that cannot be joined would free it on its way out
// while the exiting process frees it too.
void ReleaseTlsThreadState();
