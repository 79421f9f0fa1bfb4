#pragma once

#include "cli/recv/ReceiveLoop.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct relpEngine_s;
class MessageIntake;

// RELP sessions through librelp's server, which runs its own loop on a
// thread of its own and answers each syslog command once it was taken. The
// messages wait in a bounded queue until RunOnce hands them to the intake
// on the caller's thread; a full queue (in messages or in bytes) holds
// librelp's thread, and so the senders, whose windows fill.
class RelpListener {
public:
    RelpListener(const ListenSettings &settings, MessageIntake &intake);
    ~RelpListener();
    RelpListener(const RelpListener &) = delete;
    RelpListener &operator=(const RelpListener &) = delete;

    // Binds and starts librelp's loop; false with a message in error.
    [[nodiscard]] bool Open(std::string &error);
    // "relp 127.0.0.1:2514".
    std::string ListeningText() const;
    int Port() const { return m_port; }
    // Waits at most timeoutMs for messages and hands over what came.
    void RunOnce(int timeoutMs);
    // Stops librelp's loop and hands over what it took.
    void CloseAll();
    LoopCounts Counts() const;
    // Messages librelp answered as taken.
    std::uint64_t Acknowledged() const;

    // librelp's callback, on its thread.
    void Take(const unsigned char *message, std::size_t length);

private:
    struct Arrived {
        std::string bytes;
        std::int64_t receivedUs = 0;
    };

    void Stop();

    ListenSettings m_settings;
    MessageIntake &m_intake;
    relpEngine_s *m_engine = nullptr;
    std::thread m_thread;
    int m_port = 0;
    int m_stopNow = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::condition_variable m_room;
    std::vector<Arrived> m_queue;
    std::vector<Arrived> m_taking;
    std::size_t m_queuedBytes = 0;
    std::uint64_t m_acknowledged = 0;
    bool m_stopping = false;
    FrameCounts m_frames;
};
