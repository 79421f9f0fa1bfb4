#include "proof/ReceiveLoop.h"
#include "engine/Stamp.h"
#include "proof/MessageIntake.h"
#include "support/LoopbackReceivers.h"

#include <gtest/gtest.h>

namespace {
class FixedClock final : public Clock {
public:
    LocalDateTime Now() const override { return {}; }
    std::int64_t EpochMicroseconds() const override { return 5'000'000; }
};

// The receive time comes from the clock the loop is given, so the latency
// of each stamp is exact: here 30, 10, 2000 and 20 microseconds.
TEST(ReceiveLoop, LatencyIsTheClockMinusTheSendTime)
{
    DeliveryLedger ledger;
    MessageIntake intake(ledger);
    const FixedClock clock;
    ListenSettings settings;
    settings.bind = "127.0.0.1";
    settings.port = 0;
    ReceiveLoop loop(settings, intake, clock);
    const Status opened = loop.Open();
    ASSERT_TRUE(opened) << opened.Why();
    EXPECT_EQ(loop.Where(), "udp 127.0.0.1:" + std::to_string(loop.Port()));

    std::vector<std::string> messages;
    for (std::int64_t latency : {30, 10, 2000, 20}) {
        messages.push_back("<13>1 - host app - - ");
        AppendStampElement(messages.back(), {"lat", 0, messages.size(), 5'000'000 - latency});
    }
    SendDatagrams(loop.Port(), messages);
    for (int turn = 0; turn < 100 && ledger.Received() < 4; ++turn)
        loop.RunOnce(100);
    const LatencyFigures latency = ledger.Report().totals.latency;
    EXPECT_EQ(latency.samples, 4u);
    EXPECT_EQ(latency.p50, 20u);
    EXPECT_EQ(latency.max, 2000u);
    EXPECT_EQ(latency.p99, 2000u);
    EXPECT_EQ(loop.Counts().frames.frames, 4u);
}
} // namespace
