#pragma once

#include "cli/common/FlagTable.h"
#include "cli/common/MetricsFlags.h"
#include "engine/StampKey.h"
#include "transport/FrameSplitter.h"
#include "transport/TransportKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RecvOptions {
    TransportKind transport = TransportKind::Udp;
    // TLS: the server's certificate and key (empty: in certFile), and the CAs
    // client certificates are checked against.
    std::string certFile;
    std::string keyFile;
    std::string caFile;
    bool requireClientCert = false;
    double handshakeTimeout = 10; // seconds
    std::string bind = "0.0.0.0";
    int port = 514;
    // A Unix socket transport: the socket made at this path.
    std::string socketPath;
    Framing framing = Framing::Auto;
    // TCP and TLS connections open with a PROXY header (before TLS); the
    // clients it claims are reported.
    bool listenProxy = false;
    std::uint64_t expect = 0; // 0: nothing expected
    double duration = 0;      // seconds; 0: no limit
    double idle = 0;          // seconds without a message; 0: no limit
    // --expect 0: a run that received nothing passes.
    bool nothingExpected = false;
    std::string output;
    // One JSON line per second; empty: none.
    std::string statsFile;
    bool raw = false;
    std::string checkFile;
    // --check-file: the stamps of this run alone count; empty: every run's.
    std::string runId;
    // Logs of a spread run to merge instead of receiving ("-": standard input).
    std::vector<std::string> mergeFiles;
    bool json = false;
    bool quiet = false;
    // A line each second on standard error (--progress, or standard error
    // is a terminal).
    bool progress = false;
    std::uint64_t allowLoss = 0;
    bool allowDuplicates = false;
    std::size_t maxFrame = 65536;
    std::size_t maxConnections = 10000;
    // A stamp further above its stream's highest number is a suspect jump.
    std::uint64_t maxGap = 10'000'000;
    // Streams checked; stamps of more are counted only.
    std::size_t maxStreams = 100000;
    // Keyed stamps: one whose MAC this key does not make (or that has none)
    // is forged, kept out of every figure.
    std::optional<StampKey> stampKey;
    double idleTimeout = 300; // seconds a connection may send nothing
    // None: 256 MiB, or under ulimit -v a share of the memory it leaves.
    std::optional<std::size_t> maxBuffered;
    MetricsOptions metrics;
};

struct RecvParseResult {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    RecvOptions options;
    std::string error;
    // Told on standard error; the run goes on.
    std::vector<std::string> warnings;
};

// What a program that lends the listener's flags calls them, so that a
// message names a flag as it was given (the probe's --receive-cert).
struct RecvFlagNames {
    // Takes the place of the "--" of each TLS flag.
    std::string_view tlsPrefix = "--";
    // The words that choose a TLS listener.
    std::string_view listenTls = "--listen tls";

    std::string Tls(std::string_view flag) const { return std::string(tlsPrefix) + std::string(flag.substr(2)); }
};

// args excludes the program name.
[[nodiscard]] RecvParseResult ParseRecvCommandLine(const std::vector<std::string> &args,
                                                   const RecvFlagNames &names = {});
std::string RecvUsageText();
// The flags, for the help, the man page and the shell completion.
FlagTable RecvFlagTable(const RecvFlagNames &names = {});
