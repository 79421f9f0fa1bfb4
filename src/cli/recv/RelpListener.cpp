#include "cli/recv/RelpListener.h"

#include "cli/recv/MessageIntake.h"

// librelp declares its functions without C linkage for C++.
extern "C" {
#include <librelp.h>
}

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Messages taken from librelp and not yet checked; past this, or past
// --max-buffered bytes of them, its thread waits.
constexpr std::size_t QueueLimit = 65536;

std::int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

relpRetVal OnSyslog(void *user, unsigned char *, unsigned char *, unsigned char *message, size_t length)
{
    static_cast<RelpListener *>(user)->Take(message, length);
    return RELP_RET_OK;
}

// A numeric address of the bind text and a port, or nothing.
struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

bool Resolve(const std::string &bind, int port, Address &address)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string host = bind.size() > 2 && bind.front() == '[' ? bind.substr(1, bind.size() - 2) : bind;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return false;
    std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
    address.length = found->ai_addrlen;
    freeaddrinfo(found);
    return true;
}

int PortOf(const sockaddr_storage &address)
{
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(address).sin6_port
                                               : reinterpret_cast<const sockaddr_in &>(address).sin_port);
}

// librelp cannot say which port it bound: a free one is found first.
int FreePort(const Address &address)
{
    const int probe = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return 0;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    const bool bound = ::bind(probe, reinterpret_cast<const sockaddr *>(&address.storage), address.length) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr *>(&local), &length) == 0;
    ::close(probe);
    return bound ? PortOf(local) : 0;
}
} // namespace

RelpListener::RelpListener(const ListenSettings &settings, MessageIntake &intake)
    : m_settings(settings), m_intake(intake)
{}

RelpListener::~RelpListener()
{
    Stop();
}

bool RelpListener::Open(std::string &error)
{
    Address address;
    if (!Resolve(m_settings.bind, 0, address)) {
        error = "--bind: '" + m_settings.bind + "' is not an IPv4 or IPv6 address";
        return false;
    }
    m_port = m_settings.port != 0 ? m_settings.port : FreePort(address);
    const std::string where = "relp " + m_settings.bind + " port " + std::to_string(m_port);
    if (m_port == 0 || relpEngineConstruct(&m_engine) != RELP_RET_OK) {
        m_engine = nullptr;
        error = "cannot listen on " + where + ": no free port";
        return false;
    }
    // Without a debug hook of its own the engine calls a null one.
    relpEngineSetDbgprint(m_engine, nullptr);
    relpEngineSetShutdownImmdtPtr(m_engine, &m_stopNow);
    relpEngineSetEnableCmd(m_engine, reinterpret_cast<unsigned char *>(const_cast<char *>("syslog")),
                           eRelpCmdState_Required);
    // Peers are named by their addresses: no lookups.
    relpEngineSetDnsLookupMode(m_engine, 0);
    relpEngineSetSyslogRcv2(m_engine, OnSyslog);
    relpEngineSetFamily(m_engine, address.storage.ss_family);
    relpSrv_t *server = nullptr;
    std::string port = std::to_string(m_port);
    std::string bind = m_settings.bind;
    const bool made = relpEngineListnerConstruct(m_engine, &server) == RELP_RET_OK &&
                      relpSrvSetLstnPort(server, reinterpret_cast<unsigned char *>(port.data())) == RELP_RET_OK &&
                      relpSrvSetLstnAddr(server, reinterpret_cast<unsigned char *>(bind.data())) == RELP_RET_OK &&
                      relpSrvSetUsrPtr(server, this) == RELP_RET_OK &&
                      relpSrvSetMaxDataSize(server, m_settings.maxFrame) == RELP_RET_OK &&
                      relpSrvSetOversizeMode(server, RELP_OVERSIZE_ABORT) == RELP_RET_OK;
    const int code = made ? relpEngineListnerConstructFinalize(m_engine, server) : RELP_RET_ERR_INTERNAL;
    if (code != RELP_RET_OK) {
        relpEngineDestruct(&m_engine);
        m_engine = nullptr;
        error = "cannot listen on " + where + " (librelp error " + std::to_string(code) + ")";
        return false;
    }
    m_thread = std::thread([this] { relpEngineRun(m_engine); });
    return true;
}

std::string RelpListener::ListeningText() const
{
    const bool six = m_settings.bind.find(':') != std::string::npos;
    return "relp " + (six ? "[" + m_settings.bind + "]" : m_settings.bind) + ":" + std::to_string(m_port);
}

void RelpListener::Take(const unsigned char *message, std::size_t length)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_room.wait(
        lock, [this] { return (m_queue.size() < QueueLimit && m_queuedBytes < m_settings.maxBuffered) || m_stopping; });
    m_queue.push_back({std::string(reinterpret_cast<const char *>(message), length), NowUs()});
    m_queuedBytes += length;
    ++m_acknowledged;
    if (m_queue.size() == 1)
        m_arrived.notify_one();
}

void RelpListener::RunOnce(int timeoutMs)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_queue.empty(); });
        m_taking.swap(m_queue);
        m_queuedBytes = 0;
    }
    m_room.notify_all();
    for (const Arrived &message : m_taking)
        m_intake.Take(message.bytes, message.receivedUs);
    m_frames.frames += m_taking.size();
    m_taking.clear();
}

void RelpListener::Stop()
{
    if (!m_engine)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_room.notify_all();
    m_stopNow = 1;
    relpEngineSetStop(m_engine);
    // librelp's loop waits for its sockets without a limit: a connection wakes it.
    Address address;
    const std::string local = m_settings.bind == "0.0.0.0" ? "127.0.0.1"
                              : m_settings.bind == "::"    ? "::1"
                                                           : m_settings.bind;
    if (Resolve(local, m_port, address)) {
        const int knock = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (knock >= 0) {
            static_cast<void>(::connect(knock, reinterpret_cast<const sockaddr *>(&address.storage), address.length));
            ::close(knock);
        }
    }
    if (m_thread.joinable())
        m_thread.join();
    relpEngineDestruct(&m_engine);
    m_engine = nullptr;
}

void RelpListener::CloseAll()
{
    Stop();
    RunOnce(0);
}

LoopCounts RelpListener::Counts() const
{
    LoopCounts counts;
    counts.frames = m_frames;
    return counts;
}

std::uint64_t RelpListener::Acknowledged() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_acknowledged;
}
