// The messaging service's answers: a check-in answer (JSON), a token answer
// (lines of name=value) and a topic answer. Never a crash; a check-in record
// always carries a decimal device ID; a "token=" line gives its whole rest.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sdk/messaging/RIRMessagingCheckinService.h"
#include "sdk/messaging/RIRMessagingTokenOperation.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

bool isDecimal(const std::string& text) {
  size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= start) return false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  auto checkin = RIRMessagingCheckinService::parseCheckinResponse(bytes);
  if (checkin) {
    FUZZ_CHECK(checkin.value() != nullptr);
    FUZZ_CHECK(isDecimal(checkin.value()->deviceID()));
    FUZZ_CHECK(checkin.value()->secretToken().empty() || isDecimal(checkin.value()->secretToken()));
  }

  const std::string text(bytes.begin(), bytes.end());
  for (const auto& [name, value] : RIRMessagingTokenFetchOperation::parseFetchTokenResponse(text)) {
    FUZZ_CHECK(name.find('\n') == std::string::npos && value.find('\n') == std::string::npos);
    FUZZ_CHECK(name.find('=') == std::string::npos);
    if (name == "token") FUZZ_CHECK(text.find("token=" + value) != std::string::npos);
  }
  return 0;
}
