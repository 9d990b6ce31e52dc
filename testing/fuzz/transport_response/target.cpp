// The collector's answer: the body decoded as a LogResponse, and the wait it
// asks for (body, else "Retry-After", else 15 minutes). The input is split at
// its first newline: before it the "Retry-After" value, after it the body.
// Damaged input is an error, never a crash; every wait lies within 24 hours.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net/HttpResponse.h"
#include "sdk/transport/ZDTCCTNanopbHelpers.h"
#include "sdk/transport/ZDTCCTUploadOperation.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\n');
  const std::string retryAfter = split == std::string::npos ? std::string() : input.substr(0, split);
  const std::string bodyText = split == std::string::npos ? input : input.substr(split + 1);
  const platform::Bytes body(bodyText.begin(), bodyText.end());

  platform::Result<ZDTCCTLogResponse> decoded = ZDTCCTDecodeLogResponse(body);
  if (!decoded) FUZZ_CHECK(decoded.error().domain == "NSURLErrorDomain" && decoded.error().code == -1);

  platform::HttpHeaders headers;
  if (!retryAfter.empty()) headers.set("Retry-After", retryAfter);
  const platform::HttpResponse response(429, headers, "http://127.0.0.1/");
  const uint64_t wait = ZDTCCTUploadOperation::waitMillisForResponse(response, body);
  FUZZ_CHECK(wait <= ZDTCCTUploadOperation::kMaxWaitMillis);
  if (decoded && decoded->nextWaitMs) {
    FUZZ_CHECK(wait == static_cast<uint64_t>(std::min<int64_t>(std::max<int64_t>(*decoded->nextWaitMs, 0),
                                                                 ZDTCCTUploadOperation::kMaxWaitMillis)));
  }
  return 0;
}
