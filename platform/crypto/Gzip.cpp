#include "platform/crypto/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

constexpr size_t kChunk = 16 * 1024;
constexpr uint64_t kMaxInput = uint64_t(1) << 32;

Error zlibError(int status, const char* message) {
    Error error(Gzip::kErrorDomain, Gzip::kErrorZlib);
    error.setUserInfo(Gzip::kStatusKey, Value(status));
    if (message && *message) error.setUserInfo(Error::kLocalizedDescriptionKey, Value(message));
    return error;
}

}  // namespace

Gzip::Output Gzip::compress(std::span<const uint8_t> data) {
    if (data.empty()) return std::optional<std::vector<uint8_t>>();
    if (uint64_t(data.size()) >= kMaxInput) return Error(kErrorDomain, kErrorInputTooLarge);

    z_stream stream{};
    int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) return zlibError(status, nullptr);

    std::vector<uint8_t> out;
    out.reserve(data.size() / 4 + 32);
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    uint8_t chunk[kChunk];
    do {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = deflate(&stream, Z_FINISH);
        if (status != Z_OK && status != Z_STREAM_END) {
            deflateEnd(&stream);
            return zlibError(status, nullptr);
        }
        out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    } while (status == Z_OK);

    if (stream.avail_in != 0) {
        // Z_FINISH only reports the stream end once all input is consumed.
        std::fprintf(stderr, "Should have finished deflating without using all input, %u bytes left\n",
                     stream.avail_in);
        std::abort();
    }
    deflateEnd(&stream);
    return std::optional<std::vector<uint8_t>>(std::move(out));
}

Gzip::Output Gzip::inflate(std::span<const uint8_t> data, size_t maxOutputSize) {
    if (data.empty() || uint64_t(data.size()) >= kMaxInput) return std::optional<std::vector<uint8_t>>();

    z_stream stream{};
    int status = inflateInit2(&stream, 15 + 32);
    if (status != Z_OK) return zlibError(status, nullptr);

    std::vector<uint8_t> out;
    out.reserve(std::min<size_t>(data.size() * 4, maxOutputSize));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    uint8_t chunk[kChunk];
    do {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = ::inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            Error error = zlibError(status, stream.msg);
            inflateEnd(&stream);
            return error;
        }
        const size_t produced = sizeof chunk - stream.avail_out;
        if (out.size() + produced > maxOutputSize) {
            inflateEnd(&stream);
            return Error::make(kErrorDomain, kErrorOutputTooLarge, "Inflated data exceeds the size limit");
        }
        out.insert(out.end(), chunk, chunk + produced);
    } while (status == Z_OK);

    const uInt remaining = stream.avail_in;
    inflateEnd(&stream);
    if (remaining != 0) {
        Error error(kErrorDomain, kErrorTrailingBytes);
        error.setUserInfo(kRemainingBytesKey, Value(static_cast<unsigned int>(remaining)));
        return error;
    }
    return std::optional<std::vector<uint8_t>>(std::move(out));
}

}  // namespace platform
