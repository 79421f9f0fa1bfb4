#include "engine/StampKey.h"

#include "common/InputFile.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <sys/stat.h>

namespace {
static_assert(StampKey::Bytes == crypto_shorthash_siphash24_KEYBYTES);
static_assert(crypto_shorthash_siphash24_BYTES == sizeof(std::uint64_t));

unsigned char *PutNumber(unsigned char *out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i, value >>= 8)
        *out++ = static_cast<unsigned char>(value);
    return out;
}
} // namespace

StampKey::StampKey(std::string_view secret)
{
    // Picks the fastest code for this processor; safe to call again.
    if (sodium_init() < 0)
        return;
    crypto_generichash(m_key.data(), m_key.size(), reinterpret_cast<const unsigned char *>(secret.data()),
                       secret.size(), nullptr, 0);
    m_made = true;
}

Result<StampKey> ReadStampKey(const std::string &path)
{
    InputFile file;
    // A key is a file: "-" is one by that name, not standard input.
    if (const Status opened = file.Open(path == "-" ? "./-" : path); !opened)
        return opened;
    // One byte more than a key may have shows a longer file without reading
    // it all (a key given as /dev/zero).
    std::string secret(StampKey::MaxSecret + 1, '\0');
    std::size_t have = 0;
    while (have < secret.size()) {
        const std::optional<std::size_t> got = file.Read(secret.data() + have, secret.size() - have);
        if (!got)
            return Status::Failure(file.Stopped() ? "stopped while waiting for '" + path + "' to be written"
                                                  : file.Outcome().Why());
        if (*got == 0)
            break;
        have += *got;
    }
    secret.resize(have);
    if (secret.size() > StampKey::MaxSecret)
        return Status::Failure("'" + path + "' is longer than " + std::to_string(StampKey::MaxSecret) +
                               " bytes: a key file holds a short secret");
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r'))
        secret.pop_back();
    if (secret.size() < StampKey::MinSecret)
        return Status::Failure("'" + path + "' holds " + std::to_string(secret.size()) +
                               " bytes: a key needs at least " + std::to_string(StampKey::MinSecret) +
                               " (make one with: openssl rand -hex 16 > " + path + ")");
    StampKey key(secret);
    if (!key.Made())
        return Status::Failure("the cryptography library could not start");
    return key;
}

std::string StampKeyExposure(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & (S_IRGRP | S_IROTH)) == 0)
        return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "'" + path + "' is readable by others (mode " + mode + "): whoever reads it can forge stamps; chmod 600 '" +
           path + "' keeps it to its owner";
}

std::uint64_t StampMac::Of(std::string_view run, std::uint64_t stream, std::uint64_t seq, std::int64_t sentUs) const
{
    // The run's length first, so no two stamps give the same bytes.
    unsigned char bytes[1 + StampFormat::MaxRunLength + 24];
    const std::size_t runBytes = std::min(run.size(), StampFormat::MaxRunLength);
    bytes[0] = static_cast<unsigned char>(runBytes);
    std::memcpy(bytes + 1, run.data(), runBytes);
    const unsigned char *end =
        PutNumber(PutNumber(PutNumber(bytes + 1 + runBytes, stream), seq), static_cast<std::uint64_t>(sentUs));
    unsigned char mac[sizeof(std::uint64_t)];
    crypto_shorthash_siphash24(mac, bytes, static_cast<unsigned long long>(end - bytes), m_key.Key().data());
    std::uint64_t value = 0;
    for (std::size_t i = sizeof mac; i-- > 0;)
        value = value << 8 | mac[i];
    return value;
}

bool StampMac::Verify(const Stamp &stamp) const
{
    return m_key.Made() && stamp.mac && *stamp.mac == Of(stamp.run, stamp.stream, stamp.seq, stamp.sentUs);
}
