#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What the endpoint needs of a request: the rest of its head is read only
// for its size and framing.
struct HttpRequest {
    std::string method;
    std::string target;
    // HTTP/1.1 without "Connection: close": the connection stays open.
    bool keepAlive = false;
};

// Reads the requests of one connection from its bytes as they come, holding
// at most one line: a scrape is a GET of a few hundred bytes, so a head or
// body far beyond that is refused before it is read, whatever a peer sends.
class HttpRequestReader {
public:
    static constexpr std::size_t LongestLine = 8 * 1024;
    // The header lines together, their line ends included.
    static constexpr std::size_t LargestHeaders = 16 * 1024;
    static constexpr std::size_t LargestBody = 4 * 1024;

    enum class Outcome { NeedMore, Request, Malformed, LineTooLong, HeadersTooLarge, BodyTooLarge };

    // Reads from bytes up to the end of the next request (its body skipped)
    // or of a fault; used says how many it took. After a fault the
    // connection is over: the reader takes nothing more.
    Outcome Read(std::string_view bytes, std::size_t &used);
    // The request Read gave last.
    const HttpRequest &Request() const { return m_request; }

private:
    enum class Phase { RequestLine, Headers, Body, Failed };
    Outcome EndLine();
    Outcome StartRequest(std::string_view line);
    Outcome EndHeaders();
    Outcome Fail(Outcome fault);

    Phase m_phase = Phase::RequestLine;
    Outcome m_fault = Outcome::NeedMore;
    // The line read so far, without its line end.
    std::string m_line;
    // The head's bytes read so far (before a request line: blank lines).
    std::size_t m_headerBytes = 0;
    std::uint64_t m_bodyLeft = 0;
    bool m_lengthSeen = false;
    bool m_chunked = false;
    bool m_close = false;
    bool m_keepAliveAsked = false;
    bool m_version11 = false;
    HttpRequest m_request;
};
