#include "sdk/utilities/ZULGzip.h"

#include "platform/crypto/Gzip.h"

namespace {

std::optional<std::vector<uint8_t>> unwrap(platform::Gzip::Output&& output, platform::Error* error) {
  if (!output.ok()) {
    if (error != nullptr) *error = output.error();
    return std::nullopt;
  }
  return std::move(output).value();
}

}  // namespace

std::optional<std::vector<uint8_t>> ZULGzip::zul_dataByGzippingData(std::span<const uint8_t> data,
                                                                    platform::Error* error) {
  if (data.empty()) return std::nullopt;
  return unwrap(platform::Gzip::compress(data), error);
}

std::optional<std::vector<uint8_t>> ZULGzip::zul_dataByInflatingGzippedData(std::span<const uint8_t> data,
                                                                            platform::Error* error) {
  if (data.empty()) return std::nullopt;
  return unwrap(platform::Gzip::inflate(data), error);
}
