// RELP's practical limit on this machine, through librelp alone:
//   relploop recv PORT       answers every syslog command and counts it; prints
//                            "ready" once listening and "messages N" at SIGTERM
//   relploop send PORT SECONDS SIZE [WINDOW]
//                            sends one fixed SIZE-byte message over and over in
//                            one session (librelp's window unless WINDOW is
//                            given), then closes it, which waits for every
//                            answer; prints "messages N bytes M seconds S"
// librelp.h uses size_t without declaring it, and has no C linkage for C++.
#include <cstddef>
extern "C" {
#include <librelp.h>
}

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace {
std::atomic<long long> g_received{0};
int g_stop = 0;

relpRetVal Count(void *, unsigned char *, unsigned char *, unsigned char *, size_t)
{
    g_received.fetch_add(1, std::memory_order_relaxed);
    return RELP_RET_OK;
}

unsigned char *Text(std::string &text)
{
    return reinterpret_cast<unsigned char *>(text.data());
}

int Receive(std::string port)
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    relpEngine_t *engine = nullptr;
    relpSrv_t *server = nullptr;
    std::string syslog = "syslog", address = "127.0.0.1";
    relpEngineConstruct(&engine);
    relpEngineSetDbgprint(engine, nullptr);
    relpEngineSetShutdownImmdtPtr(engine, &g_stop);
    relpEngineSetDnsLookupMode(engine, 0);
    relpEngineSetEnableCmd(engine, Text(syslog), eRelpCmdState_Required);
    relpEngineSetSyslogRcv2(engine, Count);
    relpEngineListnerConstruct(engine, &server);
    relpSrvSetLstnPort(server, Text(port));
    relpSrvSetLstnAddr(server, Text(address));
    if (relpEngineListnerConstructFinalize(engine, server) != RELP_RET_OK) {
        std::fprintf(stderr, "cannot listen on port %s\n", port.c_str());
        return 1;
    }
    std::thread loop([engine] { relpEngineRun(engine); });
    std::printf("ready\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    std::printf("messages %lld\n", g_received.load());
    std::fflush(stdout);
    // librelp's loop waits for its sockets without a limit: the process ends here.
    std::_Exit(0);
}

int Send(std::string port, double seconds, std::size_t size, int window)
{
    relpEngine_t *engine = nullptr;
    relpClt_t *client = nullptr;
    std::string host = "127.0.0.1", syslog = "syslog";
    relpEngineConstruct(&engine);
    relpEngineSetDbgprint(engine, nullptr);
    relpEngineSetEnableCmd(engine, Text(syslog), eRelpCmdState_Required);
    relpEngineCltConstruct(engine, &client);
    if (window > 0)
        relpCltSetWindowSize(client, window);
    if (relpCltConnect(client, AF_INET, Text(port), Text(host)) != RELP_RET_OK) {
        std::fprintf(stderr, "cannot connect to port %s\n", port.c_str());
        return 1;
    }
    std::string message = "<13>";
    message.append(size - message.size(), 'x');
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    long long sent = 0;
    // The clock is read once per 256 messages, as a batch would.
    while (std::chrono::steady_clock::now() < end)
        for (int i = 0; i < 256; ++i, ++sent)
            if (relpCltSendSyslog(client, Text(message), message.size()) != RELP_RET_OK) {
                std::fprintf(stderr, "the session broke\n");
                return 1;
            }
    relpEngineCltDestruct(engine, &client);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    relpEngineDestruct(&engine);
    std::printf("messages %lld bytes %lld seconds %.3f\n", sent, sent * static_cast<long long>(size), took);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "recv" && argc == 3)
        return Receive(argv[2]);
    if (mode == "send" && (argc == 5 || argc == 6))
        return Send(argv[2], std::atof(argv[3]), static_cast<std::size_t>(std::atoi(argv[4])),
                    argc == 6 ? std::atoi(argv[5]) : 0);
    std::fprintf(stderr, "usage: relploop recv PORT | relploop send PORT SECONDS SIZE [WINDOW]\n");
    return 2;
}
