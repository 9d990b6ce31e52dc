// Digest: one-shot message digests (SHA-1, MD5) over OpenSSL EVP, plus the
// small helpers callers build on them (lower-case hex, the last eight bytes
// of an MD5 read as a big-endian signed 64-bit number).
//
// Stateless; every function is safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

class Digest {
public:
    using Sha1 = std::array<uint8_t, 20>;
    using Md5 = std::array<uint8_t, 16>;

    static Sha1 sha1(std::span<const uint8_t> data);
    static Sha1 sha1(std::string_view text);
    static Md5 md5(std::span<const uint8_t> data);
    static Md5 md5(std::string_view text);

    // Lower-case hexadecimal, two digits per byte.
    static std::string hex(std::span<const uint8_t> data);
    // Bytes 8..15 of the MD5 of `data`, most significant first, as int64.
    static int64_t md5Int64(std::span<const uint8_t> data);
    static int64_t md5Int64(std::string_view text);
};

}  // namespace platform
