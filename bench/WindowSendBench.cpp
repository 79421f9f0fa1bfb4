#include "BenchSection.h"
#include "LoopbackSink.h"

#include "handlers/SendScheduler.h"
#include "handlers/TcpSessionControl.h"
#include "handlers/WindowTimer.h"
#include "shell/Services.h"
#include "transport/SocketEndpoint.h"
#include "window/Quillon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <numeric>
#include <thread>
#include <vector>

namespace {
// Boxes are only counted: a figure run must never wait for a person.
class CountingBoxes final : public MessageBoxes {
public:
    Answer Show(QWidget *, Icon, const QString &, const QString &text, Buttons) override
    {
        ++shown;
        last = text;
        return Answer::Ok;
    }
    int shown = 0;
    QString last;
};

struct BenchWindow {
    explicit BenchWindow(quint16 port, int transport)
    {
        Services services = DesktopServices();
        services.messageBoxes = &boxes;
        window = std::make_unique<Quillon>(services);
        window->Form_Load();
        window->Transport->setCurrentIndex(transport);
        window->TargetIP->setEditText(QStringLiteral("127.0.0.1"));
        window->PortNumber->setEditText(QString::number(port));
        window->SourcePortNumber->setEditText(QStringLiteral("Random port > 1023"));
        window->Message->setEditText(QStringLiteral("window send benchmark message"));
        for (QCheckBox *box : {window->BadPackets, window->NoPriority, window->SendHugePackets, window->ChkRFCMessages})
            box->setChecked(false);
    }
    ~BenchWindow()
    {
        if (boxes.shown > 0)
            PrintNote("message boxes shown: " + std::to_string(boxes.shown) + ", last: " + boxes.last.toStdString());
    }
    CountingBoxes boxes;
    std::unique_ptr<Quillon> window;
};

void RunEventsFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

void Pace(int delayMs, int runMs)
{
    LoopbackSink sink(SOCK_DGRAM);
    BenchWindow bench(sink.Port(), 0);
    Quillon &w = *bench.window;
    w.SendOptions->setCurrentIndex(3);
    w.Slider1->setValue(delayMs);

    std::vector<BenchClock::time_point> ticks;
    QObject::connect(w.tmrSend, &WindowTimer::Timer, [&] { ticks.push_back(BenchClock::now()); });
    const BenchClock::time_point start = BenchClock::now();
    w.Scheduler->CmdSend_Click();
    RunEventsFor(runMs);
    const std::int32_t sent = w.State.MessagesSent;
    const double elapsed = MillisecondsSince(start);
    w.Scheduler->CmdSend_Click();

    std::vector<double> gaps;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count());
    const std::string label = "continuous at " + std::to_string(delayMs) + " ms";
    PrintFigure(label + ": target rate", 1000.0 / delayMs, "msg/s");
    PrintFigure(label + ": run length", elapsed, "ms");
    PrintFigure(label + ": messages counted", sent, "");
    if (!gaps.empty()) {
        const double mean = std::accumulate(gaps.begin(), gaps.end(), 0.0) / static_cast<double>(gaps.size());
        // From the ticks themselves: the first message goes out before the
        // timer is armed, and the run's ends cut ticks in half.
        PrintFigure(label + ": rate reached", 1000.0 / mean, "msg/s");
        PrintFigure(label + ": tick gap mean", mean, "ms");
        PrintFigure(label + ": tick gap p95", Percentile(gaps, 0.95), "ms");
        PrintFigure(label + ": tick gap max", *std::max_element(gaps.begin(), gaps.end()), "ms");
    }
}

void BurstStall(const char *transport, int sinkType, int transportIndex)
{
    constexpr int Rounds = 10;
    LoopbackSink sink(sinkType);
    BenchWindow bench(sink.Port(), transportIndex);
    Quillon &w = *bench.window;
    w.SendOptions->setCurrentIndex(5);

    // The start connects (TCP) and sends the first burst; later bursts are
    // timer ticks, called here back to back.
    w.Scheduler->CmdSend_Click();
    if (w.State.MessagesSent != 500) {
        PrintNote(std::string("the first burst over ") + transport +
                  " was not counted in full: " + std::to_string(w.State.MessagesSent));
        return;
    }
    std::vector<double> held;
    std::vector<double> eventLatency;
    for (int round = 0; round < Rounds; ++round) {
        const BenchClock::time_point posted = BenchClock::now();
        BenchClock::time_point handled{};
        QTimer::singleShot(0, [&] { handled = BenchClock::now(); });
        w.Scheduler->Timer2_Timer();
        held.push_back(MillisecondsSince(posted));
        QEventLoop loop;
        loop.processEvents();
        eventLatency.push_back(std::chrono::duration<double, std::milli>(handled - posted).count());
        RunEventsFor(20); // lets the socket drain between bursts
    }
    w.Scheduler->CmdSend_Click();
    const std::string label = std::string("burst of 500 over ") + transport;
    PrintFigure(label + ": window held, median", Percentile(held, 0.5), "ms");
    PrintFigure(label + ": window held, max", *std::max_element(held.begin(), held.end()), "ms");
    PrintFigure(label + ": a queued event waited, median", Percentile(eventLatency, 0.5), "ms");
    PrintFigure(label + ": counted as sent", w.State.MessagesSent, "of " + std::to_string(500 * (Rounds + 1)));
}

// The wait for a session that never comes, cancelled by a second click after
// two seconds: how much of a core the waiting takes.
void ConnectWaitCost()
{
    // A full accept queue: the handshake to this port never completes.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr *>(&address), length);
    ::listen(listener, 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr *>(&address), length);
    }
    RunEventsFor(200);

    BenchWindow bench(ntohs(address.sin_port), 1);
    Quillon &w = *bench.window;
    QTimer::singleShot(2000, [&] { w.TcpSession->CmdConnect_Click(); });
    const std::clock_t cpuStart = std::clock();
    const BenchClock::time_point start = BenchClock::now();
    w.TcpSession->CmdConnect_Click();
    const double wallMs = MillisecondsSince(start);
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    PrintFigure("connect wait: wall time until cancelled", wallMs, "ms");
    PrintFigure("connect wait: CPU time used", cpuMs, "ms");
    PrintFigure("connect wait: share of one core", 100.0 * cpuMs / wallMs, "%");
    for (int filler : fillers)
        ::close(filler);
    ::close(listener);
}

const BenchSection::Register connectWait("window: connect wait cost", ConnectWaitCost);
const BenchSection::Register pace10("window: continuous pace at 10 ms", [] { Pace(10, 3000); });
const BenchSection::Register pace500("window: continuous pace at 500 ms", [] { Pace(500, 5000); });
const BenchSection::Register burstUdp("window: burst stall over UDP", [] { BurstStall("UDP", SOCK_DGRAM, 0); });
const BenchSection::Register burstTcp("window: burst stall over TCP", [] { BurstStall("TCP", SOCK_STREAM, 1); });
} // namespace
