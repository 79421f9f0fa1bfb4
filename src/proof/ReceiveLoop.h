#pragma once

#include "common/Clock.h"
#include "proof/ProxyTally.h"
#include "proof/ReceiveSource.h"
#include "proof/RelpSession.h"
#include "transport/FrameSplitter.h"
#include "transport/ProxyPreface.h"
#include "transport/StreamSession.h"
#include "transport/TransportKind.h"
#include "transport/UnixSocketFile.h"

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/uio.h>

class MessageIntake;

struct ListenSettings {
    // RELP answers each message. TLS names the listener only: the sessions
    // come from the factory.
    TransportKind transport = TransportKind::Udp;
    std::string bind = "0.0.0.0";
    int port = 514;
    // A Unix socket transport: the socket made at this path, in place of
    // bind and port.
    std::string socketPath;
    Framing framing = Framing::Auto;
    // The longest frame of a stream, and the longest Unix datagram.
    std::size_t maxFrame = 65536;
    std::size_t maxConnections = 10000;
    // A session still in its handshake after this long is dropped.
    std::int64_t handshakeTimeoutUs = 10'000'000;
    // A connection that sends nothing for this long is closed; 0: never.
    std::int64_t idleTimeoutUs = 300'000'000;
    // Parts of messages held over all connections; past it the connection
    // holding the most is dropped.
    std::size_t maxBuffered = std::size_t{256} << 20;
    // Each connection opens with a PROXY header, read before its session
    // (before TLS) within the handshake timeout; one without is closed.
    bool proxy = false;
};

// The receiver's own epoll loop: one listening socket, and for TCP every
// accepted connection with its frame splitter. Each wake-up costs only the
// sockets that are ready; a connection gets a bounded number of reads per
// turn, so a fast one cannot starve the others and a slow one only holds
// its partial message. A session that never finishes its handshake is
// dropped after the handshake timeout, one that goes quiet after the idle
// timeout, and the parts of messages held over all connections are capped.
// At the connection limit the one idle longest makes room for a new one, so
// idle connections cannot lock a sender out.
// A RELP session's answers wait for the end of the turn: by then the
// messages they answer were handed to the system.
class ReceiveLoop final : public ReceiveSource, private FrameHandler {
public:
    static constexpr std::size_t NoRow = ~std::size_t{0};
    // The clock gives each read its receive time, for the latency.
    ReceiveLoop(const ListenSettings &settings, MessageIntake &intake, const Clock &clock, SessionFactory factory = {});
    ~ReceiveLoop() override;
    ReceiveLoop(const ReceiveLoop &) = delete;
    ReceiveLoop &operator=(const ReceiveLoop &) = delete;

    // Binds and listens.
    Status Open() override;
    // "udp 127.0.0.1:5514", "tcp [::1]:5514", "tls ..." with the port bound,
    // or "unix-dgram PATH", "unix-stream PATH".
    std::string Where() const override;
    int Port() const { return m_port; }
    // Waits at most timeoutMs for the sockets and handles what is ready.
    void RunOnce(int timeoutMs) override;
    // Ends every connection, reading what its peer still sends for a short
    // while, and hands on a message still waiting for its trailer.
    void Finish() override;
    ReceiveCounts Counts() const override;
    const ProxyTally &Proxies() const { return m_proxies; }

private:
    struct Connection {
        int fd = -1;
        std::unique_ptr<StreamSession> session;
        FrameSplitter splitter;
        std::uint32_t events = 0;
        bool established = false;
        // Bytes came: the first ones were looked at.
        bool spoke = false;
        std::uint64_t serial = 0;
        std::int64_t lastReadUs = 0;
        // What the splitter held after the last read, as counted in m_buffered.
        std::size_t buffered = 0;
        // Told the end, it is read until its peer closes.
        bool closing = false;
        // Its place in m_byActivity.
        std::list<std::size_t>::iterator activity;
        // RELP: the session, whether it waits to be answered this turn, and
        // whether it was ever paused.
        std::unique_ptr<RelpSession> relp = nullptr;
        bool owed = false;
        bool paused = false;
        // With proxy: the header until it is read, then the claimed
        // client's row.
        std::unique_ptr<ProxyPreface> preface = nullptr;
        std::size_t proxyRow = NoRow;
    };
    enum class Ending { ByPeer, ByReceiver, Shed };
    struct Handshake {
        std::int64_t deadlineUs = 0;
        std::size_t slot = 0;
        std::uint64_t serial = 0;
    };

    void OnFrame(std::string_view frame) override;
    std::string ProtocolName() const;
    Status OpenListener();
    Status OpenUnixListener();
    void ReadDatagrams();
    void Accept();
    void Refuse(int fd);
    // At the limit the connection idle longest makes room; false if none.
    bool MakeRoom();
    void ReadConnection(std::size_t slot);
    // False while the header is awaited, or when it failed.
    bool ReadPreface(std::size_t slot);
    void RefuseProxy(std::size_t slot, const std::string &why);
    void ReadRelp(std::size_t slot);
    void Answer();
    bool SendAnswers(Connection &connection);
    void Rebuffer(Connection &connection, std::size_t held);
    void WatchEvents(std::size_t slot);
    void ExpireHandshakes();
    void CloseIdle();
    void ShedLargest();
    // ByReceiver: a timeout or the end of the run, so an unfinished handshake
    // is not the client's failure. Shed: the part of a message held is lost.
    void Drop(std::size_t slot, Ending ending = Ending::ByPeer);
    static void AddCounts(ReceiveCounts &counts, const Connection &connection);

    ListenSettings m_settings;
    MessageIntake &m_intake;
    const Clock &m_clock;
    SessionFactory m_factory;
    int m_epoll = -1;
    int m_listener = -1;
    // Kept open so a full descriptor table still lets a connection be taken and refused.
    int m_spare = -1;
    int m_port = 0;
    std::string m_address;
    UnixSocketFile m_socketFile;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<std::size_t> m_freeSlots;
    // Open connections' slots, the one idle longest first.
    std::list<std::size_t> m_byActivity;
    // RELP sessions to answer at the end of the turn.
    std::vector<std::size_t> m_answering;
    // In accept order, so in deadline order; entries of sessions that ended
    // or finished their handshake are passed over when their time comes.
    std::deque<Handshake> m_handshakes;
    std::uint64_t m_serial = 0;
    std::size_t m_buffered = 0;
    // Connections told the end and not yet closed by their peer.
    std::size_t m_closing = 0;
    std::int64_t m_nextIdleCheckUs = 0;
    std::vector<char> m_buffer;
    std::vector<struct mmsghdr> m_headers;
    std::vector<struct iovec> m_vectors;
    std::int64_t m_nowUs = 0;
    ReceiveCounts m_counts;
    ProxyTally m_proxies;
    // The claimed client of the connection whose frames are being handed on.
    std::size_t m_frameRow = NoRow;
};
