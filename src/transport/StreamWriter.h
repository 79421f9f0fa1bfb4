#pragma once

#include "transport/SocketSupport.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

class ByteLayer;

// The sending half of a stream session: bytes go through the session's byte
// layer to the socket, and what the kernel does not take yet waits here in
// order. Back-pressure, pending bytes, time blocked and what the peer
// acknowledged are counted here once for every layer.
class StreamWriter {
public:
    enum class Written {
        Yes,         // handed over (some may be pending)
        No,          // not handed over: no room in time
        Broken,      // the socket failed; Error() says how
        LayerFailed, // the layer failed; its FailureText says why
    };
    // How a write meets a full socket. waitForKernel: wait for the kernel to
    // take the bytes (until the deadline) before leaving them pending. retry:
    // wait again even after a wait in vain.
    struct Rule {
        SteadyClock::time_point deadline;
        bool retry = false;
        bool waitForKernel = false;
    };

    // A new session's socket and layer; counts start again from zero.
    void Start(int fd, ByteLayer *layer);
    // Forgets the socket and layer; what was pending counts as dropped.
    void Stop();

    [[nodiscard]] Written Write(std::string_view plain, const Rule &rule);
    // Queues what the layer made on its own (handshake, alerts, answers).
    void TakeLayerOutput();
    // Queues bytes that go as they are, ahead of any the layer makes later
    // (a PROXY header before the TLS handshake); counted as the layer's are.
    void QueueRaw(std::string_view bytes) { m_pending.append(bytes); }
    // Writes what the kernel takes now; false (with Error()) on a broken socket.
    [[nodiscard]] bool FlushSome();
    // Until nothing is pending or the deadline passed.
    [[nodiscard]] Written Drain(SteadyClock::time_point deadline);
    // Pending bytes are lost with the session.
    void DropPending();

    std::size_t Pending() const { return m_pending.size() - m_pendingOffset; }
    int Error() const { return m_error; }
    std::uint64_t Acknowledged() const;
    // TCP: bytes the system was given that the peer has not acknowledged.
    std::size_t Unacknowledged() const;
    // Until the peer acknowledged everything or the deadline passed.
    [[nodiscard]] bool AwaitAcknowledged(SteadyClock::time_point deadline) const;
    std::chrono::nanoseconds BlockedTime() const { return m_waits.Blocked(); }

private:
    Written Broken();
    bool Encode(std::string_view plain, std::string_view &wire);
    Written Queue(std::string_view plain);
    // Until the pending bytes are under their limit or the deadline passed;
    // after a vain wait only again when retry says so.
    Written WaitForRoom(SteadyClock::time_point deadline, bool retry);

    int m_fd = -1;
    ByteLayer *m_layer = nullptr;
    int m_error = 0;
    // Bytes the kernel has not taken yet; the front part up to the offset
    // is already written.
    std::string m_pending;
    std::size_t m_pendingOffset = 0;
    bool m_stalled = false;
    // Of the session: bytes the kernel took, pending bytes a failure or
    // close dropped, and the plain bytes encoded with the wire bytes they
    // became.
    std::uint64_t m_kernelBytes = 0;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_plainBytes = 0;
    std::uint64_t m_wireBytes = 0;
    WriteWaits m_waits;
};
