#include "cli/recv/ListenerSetup.h"

#include "transport/TlsContext.h"
#include "transport/TlsServerSession.h"

#include <cmath>

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
    settings.maxBuffered = options.maxBuffered;
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
