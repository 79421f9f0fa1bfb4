#include "BenchSection.h"
#include "LoopbackSink.h"

#include "common/Clock.h"
#include "common/SendState.h"
#include "engine/MessageComposer.h"
#include "engine/PacketBuilder.h"
#include "engine/PacketOptions.h"
#include "engine/Priority.h"
#include "handlers/PacketSender.h"
#include "sources/SourceFile.h"
#include "transport/SocketEndpoint.h"
#include "transport/UdpEndpointOperations.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {
constexpr int BurstSize = 500;
constexpr int Rounds = 20;
constexpr int ArrivalWaitMs = 5000;

bool WaitFor(const std::function<bool()> &condition)
{
    const BenchClock::time_point start = BenchClock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > ArrivalWaitMs)
            return false;
        // Lets the endpoint's notifiers flush what the kernel did not take.
        QCoreApplication::processEvents();
        std::this_thread::yield();
    }
    return true;
}

struct Timings {
    std::vector<double> ms;
    double Median()
    {
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    double Best() { return *std::min_element(ms.begin(), ms.end()); }
};

void PrintBurst(const std::string &what, Timings timings)
{
    const double median = timings.Median();
    PrintFigure(what + ", median of " + std::to_string(Rounds), median, "ms");
    PrintFigure(what + ", best", timings.Best(), "ms");
    PrintFigure(what + ", at the median", BurstSize * 1000.0 / median, "packets/s");
}

// Composes and sends bursts as the burst timer does, then hands over
// prebuilt packets one by one and, over UDP, as one batch.
void RunBursts(const char *transport, int transportIndex, LoopbackSink &sink, SocketEndpoint &UDP1,
               SocketEndpoint &TCP1)
{
    SocketEndpoint &endpoint = transportIndex == 0 ? UDP1 : TCP1;
    SendState state;
    state.MessageText = std::string(MessageEntries::NumberedPhrase);
    state.SourceAddress = std::string(SourceEntries::RandomClassC);
    FixedComposeInputs inputs;
    inputs.rfcHeader = true;
    inputs.hostName = UDP1.LocalHostName();
    FixedPriorityInputs priority;
    FixedPacketOptions options;
    options.transportIndex = transportIndex;
    options.addCrLf = transportIndex != 0;
    const SystemClock clock;
    SourceFile source(state);
    MessageComposer composer(state, inputs, clock, source);
    PacketSender sender(state, options, UDP1, TCP1);
    const std::string over = std::string(" over ") + transport;

    Timings composed;
    for (int round = 0; round < Rounds; ++round) {
        const BenchClock::time_point start = BenchClock::now();
        for (int i = 0; i < BurstSize; ++i) {
            const ComposedMessage message = composer.ComposeMessage(SendingKind::Burst);
            state.Priority = static_cast<std::int16_t>(MessagePriority(priority));
            sender.SendSyslogPacket(state.Priority, message.OriginalAddressText, message.RfcHeaderText,
                                    message.MessageBody);
        }
        composed.ms.push_back(MillisecondsSince(start));
    }
    PrintBurst("burst of 500 composed and sent" + over, composed);
    PrintFigure("counted as sent", state.MessagesSent, "of " + std::to_string(Rounds * BurstSize));
    const auto counted = static_cast<std::size_t>(state.MessagesSent);
    if (!WaitFor([&] { return transportIndex == 0 ? sink.Datagrams() >= counted : endpoint.PendingBytes() == 0; }))
        PrintNote("the receiver did not get every packet within 5 s");

    std::vector<std::string> prebuilt;
    std::size_t burstBytes = 0;
    for (int i = 0; i < BurstSize; ++i) {
        const ComposedMessage message = composer.ComposeMessage(SendingKind::Burst);
        prebuilt.push_back(BuildSyslogPacket(MessagePriority(priority), message.OriginalAddressText,
                                             message.RfcHeaderText, message.MessageBody, false, false, false,
                                             options.addCrLf));
        burstBytes += prebuilt.back().size();
    }
    const std::function<void()> oneByOne = [&] {
        // A datagram lost on the way shows in the receiver's count.
        for (const std::string &packet : prebuilt)
            static_cast<void>(endpoint.SendData(packet));
    };
    const std::function<void()> asBatch = [&] { endpoint.SendBatch(prebuilt); };
    Timings single;
    Timings batch;
    std::vector<std::pair<const std::function<void()> *, Timings *>> ways = {{&oneByOne, &single}};
    if (transportIndex == 0)
        ways.emplace_back(&asBatch, &batch);
    for (int round = 0; round < Rounds; ++round) {
        for (auto [send, timings] : ways) {
            const std::size_t expected = sink.Bytes() + burstBytes;
            const BenchClock::time_point start = BenchClock::now();
            (*send)();
            timings->ms.push_back(MillisecondsSince(start));
            // Each round starts with the receiver caught up.
            WaitFor([&] { return sink.Bytes() >= expected; });
        }
    }
    PrintBurst("500 prebuilt packets, SendData each" + over, single);
    if (transportIndex == 0)
        PrintBurst("500 prebuilt packets, one SendBatch" + over, batch);
}

const BenchSection::Register udpBurst("socket: UDP bursts", [] {
    LoopbackSink sink(SOCK_DGRAM);
    SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    PrepareUdpEndpoint(UDP1, std::to_string(sink.Port()), "127.0.0.1");
    RunBursts("UDP", 0, sink, UDP1, TCP1);
    PrintFigure("datagrams received", static_cast<double>(sink.Datagrams()), "");
});

const BenchSection::Register tcpBurst("socket: TCP bursts", [] {
    LoopbackSink sink(SOCK_STREAM);
    SocketEndpoint UDP1(SocketEndpoint::UdpProtocol);
    SocketEndpoint TCP1(SocketEndpoint::TcpProtocol);
    TCP1.SetRemoteHost("127.0.0.1");
    TCP1.SetRemotePort(sink.Port());
    if (!TCP1.Connect() || !WaitFor([&] { return TCP1.State() == SocketEndpoint::StateConnected; })) {
        PrintNote("no TCP session to the loopback receiver");
        return;
    }
    RunBursts("TCP", 1, sink, UDP1, TCP1);
    if (!TCP1.FlushPending(ArrivalWaitMs))
        PrintNote("bytes still pending after the wait");
    PrintFigure("bytes received", static_cast<double>(sink.Bytes()), "");
});
} // namespace
