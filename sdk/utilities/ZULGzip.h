// ZULGzip: gzip compression and gzip/zlib decompression of byte buffers, with
// failures as errors in "com.zoruvu.ZULNSDataZlibErrorDomain" (1024 input too
// large, 1025 zlib error with its status under "ZULNSDataZlibErrorKey",
// 1026 bytes left after the stream under "ZULNSDataZlibRemainingBytesKey",
// 1027 output above the decompression limit). An empty input gives none and
// leaves the error untouched. The error pointer may be null.
//
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/values/Error.h"

class ZULGzip {
 public:
  static std::optional<std::vector<uint8_t>> zul_dataByGzippingData(std::span<const uint8_t> data,
                                                                   platform::Error* error = nullptr);
  static std::optional<std::vector<uint8_t>> zul_dataByInflatingGzippedData(std::span<const uint8_t> data,
                                                                           platform::Error* error = nullptr);
};
