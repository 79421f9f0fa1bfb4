#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TlsServerContext;

// A TLS (or plain TCP) receiver on a loopback port, on its own thread: it
// takes sessions one after the other and keeps the decrypted bytes of the
// latest one.
class TlsLoopbackServer {
public:
    struct Options {
        bool plain = false;   // no TLS: the bytes as they come
        std::string certFile; // empty: the made server certificate and key
        std::string keyFile;
        std::string caFile; // with requireClientCertificate: the CA of client certificates
        bool requireClientCertificate = false;
        bool ipv6 = false;          // ::1 instead of 127.0.0.1
        bool tls12Only = false;     // the newest version it speaks is TLS 1.2
        std::size_t closeAfter = 0; // ends the session once this many bytes came; 0: never
        bool keepBytes = true;      // false: only counts them
        // Reads nothing after the handshake until Release, with a small
        // receive buffer, so the sender's kernel buffer fills at once.
        bool holdReading = false;
    };
    TlsLoopbackServer();
    explicit TlsLoopbackServer(const Options &options);
    ~TlsLoopbackServer();
    TlsLoopbackServer(const TlsLoopbackServer &) = delete;
    TlsLoopbackServer &operator=(const TlsLoopbackServer &) = delete;

    quint16 Port() const { return m_port; }
    // Both process the caller's events while they wait, so a sender on the
    // caller's thread goes on.
    bool WaitForBytes(std::size_t count, int timeoutMs = 5000) const;
    // The latest session ended. Without processEvents the caller's thread
    // only waits, so its sockets stay unread meanwhile.
    bool WaitForSessionEnd(int timeoutMs = 5000, bool processEvents = true) const;
    void Release();
    std::string Bytes() const;
    std::size_t ByteCount() const { return m_count; }
    // Why the latest session ended, as this side saw it; empty while it runs.
    std::string EndText() const;

private:
    void Run();
    void Serve(int fd);
    void ServePlain(int fd);
    void AwaitRelease();
    void Keep(const char *bytes, std::size_t count);
    bool WaitFor(int fd, short events) const;
    bool SendAll(int fd, std::string &bytes) const;
    void End(const std::string &text);

    Options m_options;
    std::shared_ptr<const TlsServerContext> m_context;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    std::string m_bytes;
    std::string m_endText;
    std::atomic<std::size_t> m_count{0};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_ended{0};
    std::condition_variable m_released;
    mutable std::condition_variable m_endings;
    bool m_holding = false;
    bool m_stopping = false;
    std::thread m_thread;
};
