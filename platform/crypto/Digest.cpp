#include "platform/crypto/Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

template <size_t N>
std::array<uint8_t, N> digest(const EVP_MD* md, const void* data, size_t size) {
    std::array<uint8_t, N> out{};
    unsigned int length = 0;
    // EVP_Digest only fails on allocation failure or a missing algorithm;
    // neither can be handled meaningfully by callers of a digest.
    if (EVP_Digest(data, size, out.data(), &length, md, nullptr) != 1 || length != N) {
        std::fprintf(stderr, "Digest: OpenSSL digest failed\n");
        std::abort();
    }
    return out;
}

std::span<const uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

Digest::Sha1 Digest::sha1(std::span<const uint8_t> data) {
    return digest<20>(EVP_sha1(), data.data(), data.size());
}

Digest::Sha1 Digest::sha1(std::string_view text) { return sha1(asBytes(text)); }

Digest::Md5 Digest::md5(std::span<const uint8_t> data) {
    return digest<16>(EVP_md5(), data.data(), data.size());
}

Digest::Md5 Digest::md5(std::string_view text) { return md5(asBytes(text)); }

std::string Digest::hex(std::span<const uint8_t> data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (uint8_t b : data) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0f]);
    }
    return out;
}

int64_t Digest::md5Int64(std::span<const uint8_t> data) {
    const Md5 d = md5(data);
    uint64_t value = 0;
    for (size_t i = 8; i < 16; ++i) value = (value << 8) | d[i];
    return static_cast<int64_t>(value);
}

int64_t Digest::md5Int64(std::string_view text) { return md5Int64(asBytes(text)); }

}  // namespace platform
