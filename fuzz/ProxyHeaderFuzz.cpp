// Reads a PROXY header at the start of any bytes. A header read is within
// its version's bound, reads the same with more bytes after it, not at all
// from a part of it (NeedMore), and its addresses written again in either
// version read back the same. A stream that is not one stays so whatever
// follows, and NeedMore never asks a caller to hold more than a header's
// bound. The bytes as a --proxy-source text: a list, range or random plan
// gives addresses of its family. The bytes through a socket in three pieces
// to the receiver's preface reader: it ends as the parse of them all says,
// and takes exactly a header's bytes, leaving the rest in the socket.
//
// bash scripts/fuzz.sh 60 ProxyHeaderFuzz
#include "FuzzSupport.h"
#include "transport/ProxyHeader.h"
#include "transport/ProxyPreface.h"
#include "transport/ProxySources.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {
constexpr std::size_t V2Longest = 16 + 65535;

void CheckHeader(std::string_view bytes)
{
    ProxyHeader header;
    const ProxyParse result = ParseProxyHeader(bytes, header);
    const std::string more = std::string(bytes) + "<13>more";
    ProxyHeader again;
    if (result == ProxyParse::NotProxy)
        FuzzCheck(ParseProxyHeader(more, again) == ProxyParse::NotProxy, "a stream that is not one stays so");
    if (result == ProxyParse::NeedMore)
        FuzzCheck(bytes.size() < V2Longest, "more is asked for only within a header's bound");
    if (result != ProxyParse::Header)
        return;
    FuzzCheck(header.length <= bytes.size() && (header.version == 1 || header.version == 2) &&
                  header.length <= (header.version == 1 ? ProxyV1Longest : V2Longest),
              "a header lies within the bytes and its version's bound");
    FuzzCheck(ParseProxyHeader(more, again) == ProxyParse::Header && again.length == header.length &&
                  again.source == header.source && again.destination == header.destination,
              "bytes after a header do not change it");
    for (std::size_t cut : {header.length - 1, header.length / 2})
        FuzzCheck(ParseProxyHeader(bytes.substr(0, cut), again) == ProxyParse::NeedMore,
                  "a part of a header asks for more");
    if (header.local)
        return;
    for (auto build : {AppendProxyV1, AppendProxyV2}) {
        std::string written;
        build(written, header.source, header.destination);
        FuzzCheck(ParseProxyHeader(written, again) == ProxyParse::Header && again.source == header.source &&
                      again.destination == header.destination && again.length == written.size(),
                  "addresses written again read back the same");
    }
}

void CheckPreface(std::string_view bytes)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends) != 0)
        return;
    ProxyPreface preface;
    std::string scratch(ProxyPreface::MostBytes, '\0');
    ProxyPreface::State state = ProxyPreface::State::Reading;
    const std::size_t piece = bytes.size() / 3 + 1;
    std::size_t sent = 0;
    for (; sent < bytes.size() && state == ProxyPreface::State::Reading; sent += piece) {
        const std::string_view part = bytes.substr(sent, piece);
        FuzzCheck(::send(ends[1], part.data(), part.size(), 0) == static_cast<ssize_t>(part.size()), "sent");
        state = preface.Read(ends[0], scratch.data());
    }
    // What follows a header read comes after it.
    if (const std::string_view rest = bytes.substr(std::min(sent, bytes.size())); !rest.empty())
        FuzzCheck(::send(ends[1], rest.data(), rest.size(), 0) == static_cast<ssize_t>(rest.size()), "sent");
    ProxyHeader header;
    const ProxyParse parse = ParseProxyHeader(bytes, header);
    const bool fits = parse == ProxyParse::Header && header.length <= ProxyPreface::MostBytes;
    FuzzCheck((state == ProxyPreface::State::Done) == fits, "a header that fits is read, nothing else");
    if (state == ProxyPreface::State::Reading)
        FuzzCheck(bytes.empty() || parse == ProxyParse::NeedMore, "only a part of a header is waited on");
    if (state == ProxyPreface::State::Done) {
        FuzzCheck(preface.Header().length == header.length, "the header read is the one the bytes hold");
        std::string rest;
        for (ssize_t got; (got = ::recv(ends[0], scratch.data(), scratch.size(), 0)) > 0;)
            rest.append(scratch.data(), static_cast<std::size_t>(got));
        FuzzCheck(rest == bytes.substr(header.length), "exactly the header's bytes are taken");
    }
    ::close(ends[0]);
    ::close(ends[1]);
}

void CheckSources(std::string_view text)
{
    Result<ProxySources> sources = ProxySources::Parse(text);
    if (!sources) {
        FuzzCheck(!sources.Why().empty(), "a refused source text says why");
        return;
    }
    for (int i = 0; i < 4; ++i)
        FuzzCheck(sources->Next().port != 0, "every claimed source has a port");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes = FuzzBytes(data, size);
    CheckHeader(bytes);
    CheckPreface(bytes.substr(0, 3 * ProxyPreface::MostBytes));
    CheckSources(bytes.substr(0, 256));
    return 0;
}
