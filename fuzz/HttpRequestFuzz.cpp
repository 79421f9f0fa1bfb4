// Reads any bytes as the requests of one connection to the metrics endpoint.
// The same requests and the same end come out whether the bytes arrive at
// once or in pieces; a request read is within the line bound, and a head is
// refused as too large only after more bytes than a line may hold.
//
// bash scripts/fuzz.sh 60 HttpRequestFuzz
#include "FuzzSupport.h"
#include "metrics/HttpRequestReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {
using Outcome = HttpRequestReader::Outcome;

struct Seen {
    std::vector<std::string> requests;
    Outcome end = Outcome::NeedMore;
    std::size_t taken = 0;
};

Seen ReadInPieces(std::string_view bytes, std::size_t piece)
{
    HttpRequestReader reader;
    Seen seen;
    for (std::size_t at = 0; at < bytes.size() && seen.end == Outcome::NeedMore; at += piece) {
        std::string_view part = bytes.substr(at, piece);
        while (!part.empty()) {
            std::size_t used = 0;
            const Outcome outcome = reader.Read(part, used);
            FuzzCheck(used <= part.size(), "no more is taken than given");
            part.remove_prefix(used);
            seen.taken += used;
            if (outcome == Outcome::NeedMore) {
                FuzzCheck(part.empty(), "more is asked for only when all was taken");
                break;
            }
            if (outcome != Outcome::Request) {
                seen.end = outcome;
                std::size_t again = 0;
                FuzzCheck(reader.Read("GET / HTTP/1.1\r\n\r\n", again) == outcome && again == 0,
                          "after a fault the reader takes nothing more");
                break;
            }
            const HttpRequest &request = reader.Request();
            FuzzCheck(!request.method.empty() && !request.target.empty() &&
                          request.method.size() + request.target.size() < HttpRequestReader::LongestLine,
                      "a request read is within the line bound");
            seen.requests.push_back(request.method + ' ' + request.target + (request.keepAlive ? " +" : " -"));
        }
    }
    if (seen.end == Outcome::LineTooLong || seen.end == Outcome::HeadersTooLarge)
        FuzzCheck(seen.taken > HttpRequestReader::LongestLine, "a head is too large only past a line's bound");
    return seen;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes = FuzzBytes(data, size);
    const Seen whole = ReadInPieces(bytes, bytes.size() + 1);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, bytes.size() / 2 + 1}) {
        const Seen pieces = ReadInPieces(bytes, piece);
        FuzzCheck(pieces.requests == whole.requests && pieces.end == whole.end,
                  "the same requests and end, in pieces or at once");
    }
    return 0;
}
