#include "sdk/transport/ZDTCCTCompressionHelper.h"

#include "platform/crypto/Gzip.h"

std::optional<platform::Bytes> ZDTCCTCompressionHelper::gzippedData(const platform::Bytes& data) {
  platform::Gzip::Output compressed = platform::Gzip::compress(data);
  if (!compressed || !compressed.value()) return std::nullopt;
  return std::move(*compressed.value());
}

bool ZDTCCTCompressionHelper::isGzipped(const platform::Bytes& data) {
  return data.size() >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}
