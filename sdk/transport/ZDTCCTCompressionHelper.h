// ZDTCCTCompressionHelper: gzip of upload bodies.
//
// gzippedData() compresses with zlib's default level into a gzip stream (15-
// bit window, header and trailer); inputs that are empty or of 2^32 bytes or
// more, and zlib failures, give none. isGzipped() tells a body that starts
// with the gzip magic (0x1f 0x8b) and is at least 2 bytes long.
//
// Thread safety: stateless; call from any thread.
#pragma once

#include <optional>

#include "platform/values/Value.h"

class ZDTCCTCompressionHelper {
 public:
  static std::optional<platform::Bytes> gzippedData(const platform::Bytes& data);
  static bool isGzipped(const platform::Bytes& data);
};
