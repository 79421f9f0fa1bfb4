#include "transport/RelpEndpoint.h"

// librelp declares its functions without C linkage for C++.
extern "C" {
#include <librelp.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <sys/socket.h>

namespace {
// The endpoint whose librelp call runs on this thread: the debug hook has no
// user pointer, and librelp calls it only from inside the caller's calls.
thread_local RelpEndpoint *t_inCall = nullptr;

constexpr std::string_view Added = "ADD sess %p unacked %d";
constexpr std::string_view Deleted = "DEL sess %p unacked %d";
constexpr std::string_view Answer = "in rsp command handler, txnr %d, code %d";

// Every change of a session's list of unanswered frames passes here with the
// list's new length, and each answer's status before it takes its frame off
// the list; all else librelp says is dropped unformatted.
void Listen(char *format, ...)
{
    if (t_inCall == nullptr || (format[0] != 'A' && format[0] != 'D' && format[0] != 'i'))
        return;
    const std::string_view text(format);
    const bool answer = text.starts_with(Answer);
    if (!answer && !text.starts_with(Added) && !text.starts_with(Deleted))
        return;
    std::va_list arguments;
    va_start(arguments, format);
    if (answer) {
        const int txnr = va_arg(arguments, int);
        t_inCall->NoteAnswer(txnr, va_arg(arguments, int));
    } else {
        static_cast<void>(va_arg(arguments, void *));
        t_inCall->NoteUnanswered(va_arg(arguments, int), format[0] == 'A');
    }
    va_end(arguments);
}

class InCall {
public:
    explicit InCall(RelpEndpoint *endpoint) : m_before(t_inCall) { t_inCall = endpoint; }
    ~InCall() { t_inCall = m_before; }
    InCall(const InCall &) = delete;
    InCall &operator=(const InCall &) = delete;

private:
    RelpEndpoint *m_before;
};

// librelp takes its strings as writable.
unsigned char *Bytes(std::string &text)
{
    return reinterpret_cast<unsigned char *>(text.data());
}
} // namespace

RelpEndpoint::RelpEndpoint(RelpClientSettings settings) : m_settings(std::move(settings))
{
    if (relpEngineConstruct(&m_engine) != RELP_RET_OK) {
        m_engine = nullptr;
        return;
    }
    relpEngineSetDbgprint(m_engine, Listen);
    relpEngineSetEnableCmd(m_engine, reinterpret_cast<unsigned char *>(const_cast<char *>("syslog")),
                           eRelpCmdState_Required);
    // No name lookups of peers: only the host given is resolved.
    relpEngineSetDnsLookupMode(m_engine, 0);
    // The program's TLS is OpenSSL; librelp's default driver would be GnuTLS.
    if (IsTls(m_settings.transport))
        relpEngineSetTLSLibByName(m_engine, "openssl");
}

RelpEndpoint::~RelpEndpoint()
{
    Abandon();
    if (m_engine != nullptr)
        relpEngineDestruct(&m_engine);
}

void RelpEndpoint::NoteUnanswered(int frames, bool added)
{
    m_heard = true;
    m_closeQueued = m_closeQueued || (m_closing && added);
    m_frames = std::max(0, frames);
    if (!added && m_rejecting)
        ++m_rejected;
    m_rejecting = false;
}

// A session numbers its open 1 and its messages from 2 on; the close comes
// after them.
void RelpEndpoint::NoteAnswer(int txnr, int status)
{
    m_rejecting = status != 200 && txnr >= 2 && txnr <= m_handed + 1;
}

std::int64_t RelpEndpoint::Unacknowledged() const
{
    if (!m_heard)
        return m_handed;
    // While closing, the close command is the last frame of the list.
    const std::int64_t messages = m_closeQueued && m_frames > 0 ? m_frames - 1 : m_frames;
    return std::clamp<std::int64_t>(messages + m_rejected, 0, m_handed);
}

std::string RelpEndpoint::Describe(int code) const
{
    const std::string where = m_settings.host + ":" + std::to_string(m_settings.port);
    switch (code) {
    case RELP_RET_TIMED_OUT:
        return "RELP session to " + where + " timed out";
    case RELP_RET_AUTH_ERR_NAME:
        return "the certificate of the RELP server at " + where + " does not carry the name " +
               (m_settings.serverName.empty() ? m_settings.host : m_settings.serverName) +
               " (librelp compares DNS names only: give --server-name NAME)";
    case RELP_RET_AUTH_CERT_INVL:
        return "the certificate of the RELP server at " + where +
               " could not be verified (give the CA that signed it with --ca-file)";
    case RELP_RET_ERR_TLS_SETUP:
    case RELP_RET_ERR_TLS_HANDS:
    case RELP_RET_ERR_TLS:
    case RELP_RET_AUTH_NO_CERT:
        return "RELP TLS session to " + where + " failed (librelp error " + std::to_string(code) + ")";
    case RELP_RET_IO_ERR:
        return "cannot open a RELP session to " + where;
    case RELP_RET_SESSION_BROKEN:
        return "the RELP session to " + where + " broke";
    case RELP_RET_RSP_STATE_ERR:
        return "the RELP server at " + where + " answered a message with an error";
    case RELP_RET_RQD_FEAT_MISSING:
        return "the server at " + where + " does not take syslog commands";
    default:
        return "RELP session to " + where + " broke (librelp error " + std::to_string(code) + ")";
    }
}

void RelpEndpoint::EndSession()
{
    m_acknowledgedBefore += SessionAcknowledged();
    if (m_client != nullptr)
        relpEngineCltDestruct(m_engine, &m_client);
    m_client = nullptr;
    m_handed = 0;
    m_frames = 0;
    m_heard = false;
    m_closing = false;
    m_closeQueued = false;
    m_rejecting = false;
    m_rejected = 0;
    m_broken = false;
}

Status RelpEndpoint::Connect()
{
    const InCall call(this);
    if (m_client != nullptr)
        Abandon();
    if (m_engine == nullptr)
        return Status::Failure(m_error = "librelp could not start");
    if (relpEngineCltConstruct(m_engine, &m_client) != RELP_RET_OK) {
        m_client = nullptr;
        return Status::Failure(m_error = "librelp could not make a client");
    }
    const int timeout = std::max(1, m_settings.timeoutSeconds);
    relpCltSetTimeout(m_client, static_cast<unsigned>(timeout));
    relpCltSetConnTimeout(m_client, timeout);
    if (m_settings.window > 0)
        relpCltSetWindowSize(m_client, m_settings.window);
    if (IsTls(m_settings.transport)) {
        relpCltEnableTLS(m_client);
        if (!m_settings.caFile.empty())
            relpCltSetCACert(m_client, m_settings.caFile.data());
        if (!m_settings.certFile.empty())
            relpCltSetOwnCert(m_client, m_settings.certFile.data());
        const std::string &key = m_settings.keyFile.empty() ? m_settings.certFile : m_settings.keyFile;
        if (!key.empty())
            relpCltSetPrivKey(m_client, const_cast<char *>(key.c_str()));
        if (m_settings.verify) {
            relpCltSetAuthMode(m_client, const_cast<char *>("name"));
            std::string peer = m_settings.serverName.empty() ? m_settings.host : m_settings.serverName;
            relpCltAddPermittedPeer(m_client, peer.data());
        }
    }
    std::string port = std::to_string(m_settings.port);
    std::string host = m_settings.host;
    const int code = relpCltConnect(m_client, AF_UNSPEC, Bytes(port), Bytes(host));
    m_handed = 0;
    m_frames = 0;
    m_rejected = 0;
    if (code != RELP_RET_OK) {
        // A client whose connect failed holds no session.
        relpEngineCltDestruct(m_engine, &m_client);
        m_client = nullptr;
        return Status::Failure(m_error = Describe(code));
    }
    m_error.clear();
    return {};
}

bool RelpEndpoint::Send(std::string_view message)
{
    if (!Up())
        return false;
    const InCall call(this);
    const int code = relpCltSendSyslog(m_client, reinterpret_cast<unsigned char *>(const_cast<char *>(message.data())),
                                       message.size());
    if (code == RELP_RET_OK) {
        ++m_handed;
        return true;
    }
    m_broken = true;
    m_error = Describe(code);
    return false;
}

std::int64_t RelpEndpoint::Close()
{
    if (m_client == nullptr)
        return 0;
    const InCall call(this);
    if (!m_broken) {
        m_closing = true;
        // librelp's close waits for the answer to its close command, which
        // the server gives after every earlier one; a close that times out
        // leaves the list as the last answer did.
        relpEngineCltDestruct(m_engine, &m_client);
        m_client = nullptr;
    }
    const std::int64_t unanswered = Unacknowledged();
    EndSession();
    return unanswered;
}

void RelpEndpoint::Abandon()
{
    if (m_client == nullptr)
        return;
    const InCall call(this);
    // A session that did not break still says goodbye; a broken one is dropped.
    EndSession();
}
