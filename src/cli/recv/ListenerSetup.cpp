#include "cli/recv/ListenerSetup.h"

#include "transport/TlsContext.h"
#include "transport/TlsServerSession.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <sys/resource.h>
#include <unistd.h>

namespace {
// Descriptors kept free beside the connections: the loop's own, files and
// metrics scrapes opened later, and taking a connection to close another.
constexpr std::size_t DescriptorReserve = 32;

// The parts of messages held take a share of what ulimit -v leaves, so a
// peer's partial frames get their connection dropped before memory runs out.
std::size_t BufferedByDefault(std::size_t maxFrame)
{
    std::size_t bytes = std::size_t{256} << 20;
    if (const auto left = AddressSpaceLeft())
        bytes = std::min(bytes, *left / MemoryShare);
    return std::max(bytes, maxFrame);
}

std::size_t OpenDescriptors()
{
    std::size_t open = 0;
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        ++open;
    return open;
}

// At the open files limit a new connection could be neither taken nor made
// room for: the cap lies below it, so the one idle longest is closed first.
void CapConnectionsByDescriptors(ListenerSetup &setup, std::size_t asked)
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return;
    const std::size_t used = OpenDescriptors() + DescriptorReserve;
    const std::size_t limit = static_cast<std::size_t>(files.rlim_cur);
    const std::size_t cap = limit > used ? limit - used : 1;
    if (cap >= asked)
        return;
    setup.settings.maxConnections = cap;
    setup.connectionsCapped = "open files are limited to " + std::to_string(limit) +
                              " (ulimit -n): " + std::to_string(cap) +
                              " connections are kept open, not --max-connections " + std::to_string(asked) +
                              "; past them the one idle longest is closed for a new one";
}
} // namespace

Result<ListenerSetup> SetUpListener(const RecvOptions &options, const RecvFlagNames &names)
{
    ListenerSetup setup;
    ListenSettings &settings = setup.settings;
    settings.transport = options.transport;
    settings.bind = options.bind;
    settings.port = options.port;
    settings.socketPath = options.socketPath;
    settings.framing = options.framing;
    settings.maxFrame = options.maxFrame;
    settings.maxConnections = options.maxConnections;
    settings.handshakeTimeoutUs = std::llround(options.handshakeTimeout * 1e6);
    settings.idleTimeoutUs = std::llround(options.idleTimeout * 1e6);
    settings.maxBuffered = options.maxBuffered.value_or(BufferedByDefault(options.maxFrame));
    settings.proxy = options.listenProxy;
    if (IsStream(options.transport))
        CapConnectionsByDescriptors(setup, options.maxConnections);
    if (!IsTls(options.transport))
        return setup;
    TlsServerSettings tls;
    tls.certFile = options.certFile;
    tls.keyFile = options.keyFile;
    tls.caFile = options.caFile;
    tls.requireClientCertificate = options.requireClientCert;
    TlsSetupError failure;
    std::shared_ptr<const TlsServerContext> context = TlsServerContext::Create(tls, failure);
    if (!context) {
        const char *flag = "--cert";
        if (failure.file == TlsSetupError::File::CaFile)
            flag = "--ca-file";
        else if (failure.file == TlsSetupError::File::Key && !options.keyFile.empty())
            flag = "--key";
        return Status::Failure(names.Tls(flag) + ": " + failure.message);
    }
    setup.factory = [context](int fd) { return std::make_unique<TlsServerSession>(*context, fd); };
    return setup;
}
