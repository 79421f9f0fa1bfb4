#pragma once

#include "cli/common/FlagTable.h"
#include "cli/recv/RecvCommandLine.h"
#include "transport/TransportKind.h"

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What quillon-recv's flag handlers write while a command line is read, and
// the checks of the whole line once every flag was taken.
struct RecvParser {
    explicit RecvParser(const RecvFlagNames &given) : names(given) {}

    RecvParseResult result;
    RecvOptions &o = result.options;
    RecvFlagNames names;
    // The TLS flags' names, which the table's flags view.
    std::deque<std::string> tlsNames;
    // The first flag given that only a listener takes, and the first TLS
    // flag: what a check of the whole line names.
    std::string listenFlag;
    std::string tlsFlag;
    // --port and --bind, which a Unix socket has not, in the order given.
    std::vector<std::string> networkFlags;
    bool portGiven = false;
    bool handshakeTimeoutGiven = false;

    static Status Fail(std::string text) { return Status::Failure(std::move(text)); }

    static Status Bad(std::string_view flag, std::string_view value, std::string_view wanted);

    std::string_view Tls(std::string_view flag) { return tlsNames.emplace_back(names.Tls(flag)); }
    std::string ListenTls() const { return std::string(names.listenTls); }

    void Listening(std::string_view flag);
    void TlsFlag(std::string_view flag);
    void NetworkFlag(std::string_view flag);

    // A listener named whole, as the probe's --receive names it, in place of
    // one named before: a port and an address (empty: every one), or the
    // path of a Unix socket.
    void ListenOnPort(TransportKind kind, int port, std::string_view bind);
    void ListenOnSocket(TransportKind kind, std::string_view path);

    // A Unix socket is named by its path alone.
    Status CheckUnixSocket();

    Status Finish();

private:
    void Listen(TransportKind kind);
};

// quillon-recv's flag table, its handlers writing to parser.
FlagTable RecvFlags(const std::shared_ptr<RecvParser> &parser);
