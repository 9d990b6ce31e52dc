// The media tool's packet listing of a finished download, and the
// downloader's duration line: the listing read in chunks of any size gives
// what it gives read whole; the span it covers is never negative; the
// verdict and the duration line never fail. Input: one byte chunk size, one
// byte tool status, then the listing; its first line also serves as the
// downloader's duration line.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Tavix_YouTube/engine/internal/MediaCheck.h"
#include "testing/fuzz/FuzzCheck.h"

using tavix::engine_internal::PacketListing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t chunk = data[0] == 0 ? 1 : data[0];
  const int status = data[1];
  const std::string_view output(reinterpret_cast<const char*>(data + 2), size - 2);

  PacketListing whole;
  whole.feed(output);
  whole.finish();
  PacketListing pieces;
  for (size_t at = 0; at < output.size(); at += chunk) pieces.feed(output.substr(at, chunk));
  pieces.finish();
  FUZZ_CHECK(whole.packetCount() == pieces.packetCount());
  FUZZ_CHECK(whole.coveredSeconds() == pieces.coveredSeconds());
  FUZZ_CHECK(whole.headerSeconds() == pieces.headerSeconds());
  if (auto covered = whole.coveredSeconds()) FUZZ_CHECK(std::isfinite(*covered) && *covered >= 0);

  const std::optional<double> reported = tavix::engine_internal::reportedDuration(output.substr(0, output.find('\n')));
  if (reported) FUZZ_CHECK(std::isfinite(*reported) && *reported > 0);
  const auto failure = tavix::engine_internal::mediaCheckFailure(status, whole, reported);
  if (failure) FUZZ_CHECK(!failure->empty());
  return 0;
}
