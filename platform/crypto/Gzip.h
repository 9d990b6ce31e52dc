// Gzip: gzip compression and gzip/zlib decompression over zlib, with failures
// as Error values in domain "com.zoruvu.ZULNSDataZlibErrorDomain":
//
//   1024  input of 2^32 bytes or more (compression only)
//   1025  zlib reported an error; userInfo "ZULNSDataZlibErrorKey" holds the
//         zlib status (e.g. -3 corrupt data, -5 truncated input) and, for
//         inflation, "NSLocalizedDescription" zlib's message when it has one
//   1026  the gzip stream ended with input bytes left over; userInfo
//         "ZULNSDataZlibRemainingBytesKey" holds their number
//   1027  inflation would exceed the caller's size limit (a decompression
//         bomb); nothing is returned. Our addition: the limit keeps hostile
//         input from exhausting memory.
//
// Empty input gives an empty optional and no error (callers treat "nothing
// to do" apart from failure). compress() writes a gzip header and trailer
// (deflateInit2, window bits 15+16, default level); inflate() detects a gzip
// or zlib header (window bits 47).
//
// Stateless; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/values/Error.h"

namespace platform {

class Gzip {
public:
    static constexpr const char* kErrorDomain = "com.zoruvu.ZULNSDataZlibErrorDomain";
    static constexpr int64_t kErrorInputTooLarge = 1024;
    static constexpr int64_t kErrorZlib = 1025;
    static constexpr int64_t kErrorTrailingBytes = 1026;
    static constexpr int64_t kErrorOutputTooLarge = 1027;
    static constexpr const char* kStatusKey = "ZULNSDataZlibErrorKey";
    static constexpr const char* kRemainingBytesKey = "ZULNSDataZlibRemainingBytesKey";
    static constexpr size_t kDefaultMaxInflatedSize = size_t(64) << 20;

    using Output = Result<std::optional<std::vector<uint8_t>>>;

    static Output compress(std::span<const uint8_t> data);
    static Output inflate(std::span<const uint8_t> data, size_t maxOutputSize = kDefaultMaxInflatedSize);
};

}  // namespace platform
