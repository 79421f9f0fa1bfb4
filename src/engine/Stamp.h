#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The delivery stamp a sender puts on every message so a receiver can tell
// what was lost, duplicated, reordered and how late it came.
//
// RFC 3164 (a token at the end of the message):  quillon=RUN:STREAM:SEQ:T
// RFC 5424 (an SD element):  [quillon@32473 run="RUN" stream="STREAM" seq="SEQ" t="T"]
// Keyed, a MAC after them:   quillon=RUN:STREAM:SEQ:T:MAC  and  ... t="T" mac="MAC"]
// In a format that keeps fields (TemplatePacks.h), the token's value goes
// where that format keeps one: the token as the last key=value pair of a CEF
// extension or firewall record, after a tab as a LEEF attribute, and as the
// JSON member "quillon":"RUN:STREAM:SEQ:T".
//
//   RUN     1..16 characters from [A-Za-z0-9_-], one per sender run
//   STREAM  decimal, 0..2^63-1; shard * StreamsPerShard + index within the shard
//   SEQ     decimal, 1..2^63-1, counting from 1 within (RUN, STREAM)
//   T       decimal microseconds since the epoch (UTC) when the message was sent
//   MAC     16 lowercase hex digits, the stamp's MAC under a shared key (StampKey)
//
// Numbers are plain decimal without sign or leading zeros (a lone 0 is fine
// for STREAM and T).
namespace StampFormat {
inline constexpr std::string_view TokenPrefix = "quillon=";
inline constexpr std::string_view SdId = "quillon@32473";
inline constexpr std::size_t MaxRunLength = 16;
inline constexpr std::size_t MacDigits = 16;
// Shard I of N numbers its streams I * StreamsPerShard + 0, 1, 2 ..., so the
// streams of different shards never meet and the shard is read back from the
// stream id alone. An unsharded run is shard 0.
inline constexpr std::uint64_t StreamsPerShard = 1'000'000;
} // namespace StampFormat

struct Stamp {
    // Points into the text the stamp was read from, or at the caller's run id.
    std::string_view run;
    std::uint64_t stream = 0;
    std::uint64_t seq = 0;
    std::int64_t sentUs = 0;
    // Only in a keyed stamp.
    std::optional<std::uint64_t> mac = std::nullopt;

    std::uint64_t Shard() const { return stream / StampFormat::StreamsPerShard; }
};

bool IsValidRunId(std::string_view run);
// A run id of 12 characters [0-9a-z] made from a random number.
std::string RunIdFromNumber(std::uint64_t random);
constexpr std::uint64_t StreamId(std::uint64_t shard, std::uint64_t indexInShard)
{
    return shard * StampFormat::StreamsPerShard + indexInShard;
}

// Appends "quillon=RUN:STREAM:SEQ:T" to an RFC 3164 message, after a space
// unless the message is empty or already ends in one. The stamp's fields must
// be valid (IsValidRunId, seq >= 1, sentUs >= 0).
void AppendStampToken(std::string &message, const Stamp &stamp);
// Appends the SD element "[quillon@32473 run=... t=...]"; the caller puts it
// where the message's structured data goes (in place of "-" or after other
// elements).
void AppendStampElement(std::string &out, const Stamp &stamp);

enum class StampSearch {
    None,      // no stamp in the message
    Found,     // stamp filled in
    Malformed, // something that starts like a stamp but does not read as one
};

// Looks for a stamp in a received message of either format: the SD element of
// an RFC 5424 message, the token at the end (trailing blanks, CR, LF and NUL
// ignored, also as a daemon escapes them: "#015"; after a blank, a tab or an
// escaped tab "#011"), the JSON member (its quotes escaped too, as in a JSON
// string), then an SD element of that id anywhere (a line a daemon wrote
// with its own prefix). The run id in stamp points into message.
StampSearch FindStamp(std::string_view message, Stamp &stamp);

// Reads the four values of a stamp given as texts, and its MAC unless
// mac is null; false when any is not in the form described above.
bool ReadStampFields(std::string_view run, std::string_view stream, std::string_view seq, std::string_view sentUs,
                     Stamp &stamp, const std::string_view *mac = nullptr);
// The MAC as it is written: MacDigits lowercase hex digits.
void AppendStampMac(std::string &out, std::uint64_t mac);
