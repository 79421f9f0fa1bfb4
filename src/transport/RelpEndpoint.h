#pragma once

#include "common/Status.h"
#include "transport/TransportKind.h"

#include <cstdint>
#include <string>
#include <string_view>

struct relpEngine_s;
struct relpClt_s;

struct RelpClientSettings {
    std::string host;
    int port = 2514;
    // Messages in flight before a send waits for acknowledgements; 0:
    // librelp's own default.
    int window = 0;
    // Each connect's limit, and how long a session may wait for an answer.
    int timeoutSeconds = 10;
    // RelpTls: TLS through librelp's OpenSSL driver: CAs, client certificate
    // and key (empty: none), the name the server's certificate must carry
    // (empty: the host), and whether it is checked at all.
    TransportKind transport = TransportKind::Relp;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string serverName;
    bool verify = true;
};

// One RELP session through librelp's client: messages go out in syslog
// commands and the server answers each one. librelp keeps the answers to
// itself; the number still unanswered is read from its debug hook, which
// reports it on every change, so acknowledged counts are exact. An answer
// other than 200 takes a message off the list too: it is counted as
// rejected, not acknowledged.
class RelpEndpoint {
public:
    explicit RelpEndpoint(RelpClientSettings settings);
    ~RelpEndpoint();
    RelpEndpoint(const RelpEndpoint &) = delete;
    RelpEndpoint &operator=(const RelpEndpoint &) = delete;

    // Opens a fresh session (a broken one is dropped first, its unanswered
    // messages left as they are).
    Status Connect();
    // Hands one message over, waiting while the window is full; false when
    // the session broke (Error says why).
    bool Send(std::string_view message);
    // Ends the session politely, waiting for the answers still due; the
    // number of its messages left unacknowledged.
    std::int64_t Close();
    // Drops the session without waiting; what was unanswered stays so.
    void Abandon();

    bool Up() const { return m_client != nullptr && !m_broken; }
    // Messages of the current session not answered as taken: no answer
    // yet, or an error.
    std::int64_t Unacknowledged() const;
    // Messages of every session the server answered as taken.
    std::int64_t Acknowledged() const { return m_acknowledgedBefore + SessionAcknowledged(); }
    const std::string &Error() const { return m_error; }

    // librelp's hooks: the frames awaiting an answer in the session in use,
    // and the status of the answer about to take one off.
    void NoteUnanswered(int frames, bool added);
    void NoteAnswer(int txnr, int status);

private:
    std::int64_t SessionAcknowledged() const { return m_handed - Unacknowledged(); }
    void EndSession();
    std::string Describe(int code) const;

    RelpClientSettings m_settings;
    relpEngine_s *m_engine = nullptr;
    relpClt_s *m_client = nullptr;
    bool m_broken = false;
    // Of the current session: messages handed over, frames unanswered as
    // librelp last said (the open and close commands' included while they
    // wait), and whether it said anything at all.
    std::int64_t m_handed = 0;
    std::int64_t m_frames = 0;
    bool m_heard = false;
    bool m_closing = false;
    bool m_closeQueued = false;
    bool m_rejecting = false;
    std::int64_t m_rejected = 0;
    std::int64_t m_acknowledgedBefore = 0;
    std::string m_error;
};
