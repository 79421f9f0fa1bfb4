#include "AllocationCount.h"
#include "BenchSection.h"

#include "common/Clock.h"
#include "common/SendState.h"
#include "engine/MessageComposer.h"
#include "engine/MessageStamper.h"
#include "engine/PacketBuilder.h"
#include "engine/Priority.h"
#include "engine/Rfc3339Timestamp.h"
#include "sources/SourceFile.h"

#include <optional>
#include <string>

// Instructions per message, repeatable where times are not:
//   valgrind --tool=callgrind quillon-bench "engine: message formats"
//   callgrind_annotate --inclusive=yes callgrind.out.* | grep Messages
// and divide each function's count by the messages printed for it.
namespace {
constexpr int BatchSize = 100;
constexpr double RunForMs = 1000;
enum class Stamping { None, Plain, Keyed };
const StampKey BenchKey("a benchmark secret of some length");

// A numbered message with a random source address and priority, composed and
// built into a send batch as a burst does, the buffers kept between batches.
class Composing {
public:
    Composing(const MessageFormatSettings &settings, Stamping stamping) : m_framing(settings.framing)
    {
        if (stamping != Stamping::None)
            m_stamper.emplace("bench0run", 1, stamping == Stamping::Keyed ? &BenchKey : nullptr);
        m_state.MessageText = std::string(MessageEntries::NumberedPhrase);
        m_state.SourceAddress = std::string(SourceEntries::RandomClassC);
        m_inputs.rfcHeader = true;
        m_priority.facilityIndex = RandomFacilityIndex;
        m_priority.levelIndex = RandomLevelIndex;
        m_composer.UseFormat(settings);
    }

    void AppendBatch()
    {
        m_batch.clear();
        // The sender reads the send time once per batch.
        const std::int64_t sentUs = m_stamper ? m_clock.EpochMicroseconds() : 0;
        for (int i = 0; i < BatchSize; ++i) {
            ComposedView message = m_composer.ComposeView(SendingKind::Burst);
            if (m_stamper)
                message = m_stamper->Apply(message, sentUs);
            const std::size_t start = m_batch.size();
            AppendComposedPacket(m_batch, MessagePriority(m_priority), message, false, false, false, false);
            FrameInPlace(m_batch, start, m_framing);
        }
    }
    std::size_t BatchBytes() const { return m_batch.size(); }

private:
    SendState m_state;
    FixedComposeInputs m_inputs;
    FixedPriorityInputs m_priority;
    SystemClock m_clock;
    SourceFile m_source{m_state};
    MessageComposer m_composer{m_state, m_inputs, m_clock, m_source};
    Framing m_framing;
    std::optional<MessageStamper> m_stamper;
    std::string m_batch;
};

// Separate functions, so a profile counts each format on its own.
[[gnu::noinline]] void Rfc3164Messages(Composing &composing)
{
    composing.AppendBatch();
}

[[gnu::noinline]] void Rfc5424Messages(Composing &composing)
{
    composing.AppendBatch();
}

[[gnu::noinline]] void Rfc5424OctetCountedMessages(Composing &composing)
{
    composing.AppendBatch();
}

[[gnu::noinline]] void StampedMessages(Composing &composing)
{
    composing.AppendBatch();
}

void Measure(const std::string &label, const MessageFormatSettings &settings, void (*work)(Composing &),
             Stamping stamping = Stamping::None)
{
    Composing composing(settings, stamping);
    work(composing); // buffers reach their size
    const std::uint64_t allocationsBefore = AllocationCount();
    std::uint64_t messages = 0;
    const BenchClock::time_point start = BenchClock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 10; ++i)
            work(composing);
        messages += 10 * BatchSize;
        elapsed = MillisecondsSince(start);
    } while (elapsed < RunForMs);
    const std::uint64_t allocations = AllocationCount() - allocationsBefore;
    PrintFigure(label + ", composed and built", static_cast<double>(messages) * 1000.0 / elapsed, "messages/s");
    PrintFigure(label + ", heap allocations per message", static_cast<double>(allocations) / messages, "");
    PrintFigure(label + ", bytes per message", static_cast<double>(composing.BatchBytes()) / BatchSize, "");
    PrintFigure(label + ", messages", static_cast<double>(messages), "");
}

void Timestamps()
{
    const SystemClock clock;
    Rfc3339Timestamp timestamp(clock);
    std::string out;
    std::uint64_t stamps = 0;
    const BenchClock::time_point start = BenchClock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 1000; ++i) {
            out.clear();
            timestamp.AppendNow(out);
        }
        stamps += 1000;
        elapsed = MillisecondsSince(start);
    } while (elapsed < RunForMs);
    PrintFigure("RFC 3339 timestamp from the system clock", static_cast<double>(stamps) * 1000.0 / elapsed,
                "timestamps/s");
}

const BenchSection::Register messageFormats("engine: message formats", [] {
    MessageFormatSettings settings;
    Measure("RFC 3164 with header", settings, Rfc3164Messages);
    settings.format = MessageFormat::Rfc5424;
    settings.msgId = "ID47";
    settings.sdElements = {"[test@32473 env=\"lab\" n=\"1\"]"};
    settings.utf8Bom = true;
    Measure("RFC 5424 with SD and BOM", settings, Rfc5424Messages);
    settings.framing = Framing::OctetCount;
    Measure("RFC 5424 with SD and BOM, octet counted", settings, Rfc5424OctetCountedMessages);
    Measure("RFC 5424 with SD and BOM, octet counted, stamped", settings, StampedMessages, Stamping::Plain);
    Measure("RFC 5424 with SD and BOM, octet counted, keyed stamps", settings, StampedMessages, Stamping::Keyed);
    Measure("RFC 3164 with header, stamped", MessageFormatSettings{}, StampedMessages, Stamping::Plain);
    Measure("RFC 3164 with header, keyed stamps", MessageFormatSettings{}, StampedMessages, Stamping::Keyed);
    Timestamps();
});
} // namespace
