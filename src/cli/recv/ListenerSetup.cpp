#include "cli/recv/ListenerSetup.h"

#include "transport/TlsContext.h"
#include "transport/TlsServerSession.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

namespace {
// The parts of messages held take a share of what ulimit -v leaves, so a
// peer's partial frames get their connection dropped before memory runs out.
std::size_t BufferedByDefault(std::size_t maxFrame)
{
    std::size_t bytes = std::size_t{256} << 20;
    if (const auto left = AddressSpaceLeft())
        bytes = std::min(bytes, *left / MemoryShare);
    return std::max(bytes, maxFrame);
}

} // namespace

std::optional<std::size_t> AddressSpaceLeft()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const std::size_t used = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

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
