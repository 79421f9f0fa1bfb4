#pragma once

#include "common/Result.h"

#include "engine/Stamp.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The key of keyed stamps, made from a secret the sender and the receiver
// share: a stamp then carries a MAC of its run, stream, number and time
// (SipHash-2-4, 64 bits), so a peer without the secret cannot forge one.
class StampKey {
public:
    static constexpr std::size_t Bytes = 16;
    // A secret file holds a short text or random bytes.
    static constexpr std::size_t MinSecret = 16;
    static constexpr std::size_t MaxSecret = 4096;

    // Any bytes; the key is their 128-bit BLAKE2b hash, so a secret of any
    // length makes a full key.
    explicit StampKey(std::string_view secret);
    const std::array<unsigned char, Bytes> &Key() const { return m_key; }
    // False only when the cryptography library could not start.
    bool Made() const { return m_made; }

private:
    std::array<unsigned char, Bytes> m_key{};
    bool m_made = false;
};

// Reads a secret file (line ends at its end are not part of it): the key,
// or why not, in the words of a usage error.
Result<StampKey> ReadStampKey(const std::string &path);
// Why a secret file may have leaked, as for a private key: its group or
// others may read it. Empty when only its owner may.
std::string StampKeyExposure(const std::string &path);

// Computes and checks stamps' MACs under one key.
class StampMac {
public:
    explicit StampMac(const StampKey &key) : m_key(key) {}

    std::uint64_t Of(std::string_view run, std::uint64_t stream, std::uint64_t seq, std::int64_t sentUs) const;
    // Whether the stamp carries a MAC and it is the one its fields make.
    bool Verify(const Stamp &stamp) const;

private:
    StampKey m_key;
};
