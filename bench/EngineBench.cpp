#include "BenchSection.h"

#include "common/Clock.h"
#include "common/SendState.h"
#include "engine/MessageComposer.h"
#include "engine/PacketBuilder.h"
#include "engine/Priority.h"
#include "sources/SourceFile.h"

#include <string>

namespace {
constexpr double RunForMs = 1000;

// Repeats work for about a second; the figure is calls per second.
template <typename Work> double CallsPerSecond(Work work)
{
    std::size_t calls = 0;
    const BenchClock::time_point start = BenchClock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 1000; ++i)
            work();
        calls += 1000;
        elapsed = MillisecondsSince(start);
    } while (elapsed < RunForMs);
    return static_cast<double>(calls) * 1000.0 / elapsed;
}

void ExamplePacket()
{
    std::size_t bytes = 0;
    const double rate = CallsPerSecond([&] {
        bytes += BuildSyslogPacket(13, "Original Address=10.1.2.3 ", "Mar  5 14:03:09 HOSTNAME Quillon ", "Hello",
                                   false, false, false, false)
                     .size();
    });
    PrintFigure("example packet built", rate, "packets/s");
    if (bytes == 0)
        PrintNote("no bytes built");
}

void ComposedPacket()
{
    SendState state;
    state.MessageText = std::string(MessageEntries::NumberedPhrase);
    state.SourceAddress = std::string(SourceEntries::RandomClassC);
    FixedComposeInputs inputs;
    inputs.rfcHeader = true;
    FixedPriorityInputs priority;
    priority.facilityIndex = RandomFacilityIndex;
    priority.levelIndex = RandomLevelIndex;
    const SystemClock clock;
    SourceFile source(state);
    MessageComposer composer(state, inputs, clock, source);
    std::size_t bytes = 0;
    const double rate = CallsPerSecond([&] {
        const ComposedMessage message = composer.ComposeMessage(SendingKind::Burst);
        bytes += BuildSyslogPacket(MessagePriority(priority), message.OriginalAddressText, message.RfcHeaderText,
                                   message.MessageBody, false, false, false, false)
                     .size();
    });
    PrintFigure("numbered message with header, random source and priority, composed and built", rate, "packets/s");
    if (bytes == 0)
        PrintNote("no bytes built");
}

const BenchSection::Register examplePacket("engine: packet building", [] {
    ExamplePacket();
    ComposedPacket();
});
} // namespace
