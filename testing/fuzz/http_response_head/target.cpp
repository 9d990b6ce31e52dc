// The head of an HTTP response as a server sends it: the input's lines (split
// after each "\n", which stays with its line) go to the head parser one by
// one, as libcurl hands them over, and a complete head's facts are read as
// the HTTP layer reads them. Never a crash; a head is complete or refused,
// never both; what it keeps stays within its bound; a redirect is complete
// and has a Location.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/net/HttpResponse.h"
#include "platform/net/internal/ResponseHead.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::net_internal::ResponseHead;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ResponseHead head;
  bool refused = false;
  for (size_t start = 0; start < input.size();) {
    const size_t end = input.find('\n', start);
    const size_t next = end == std::string_view::npos ? input.size() : end + 1;
    const ResponseHead::Step step = head.addLine(input.substr(start, next - start));
    if (refused) FUZZ_CHECK(step == ResponseHead::Step::Refused);
    refused = step == ResponseHead::Step::Refused;
    start = next;
  }
  FUZZ_CHECK(!(refused && head.complete()));
  FUZZ_CHECK(head.status() >= 0 && head.status() <= 999);
  size_t kept = 0;
  for (const auto& [name, value] : head.headers().fields()) kept += name.size() + value.size();
  FUZZ_CHECK(kept <= ResponseHead::kMaximumBytes);
  if (head.isRedirect()) FUZZ_CHECK(head.complete() && head.headers().contains("Location"));

  if (head.complete()) {
    const platform::HttpResponse response(head.status(), head.headers(), "http://127.0.0.1/dir/file.bin");
    FUZZ_CHECK(response.expectedContentLength() >= -1);
    response.mimeType();
    response.textEncodingName();
    FUZZ_CHECK(response.suggestedFilename().find('/') == std::string::npos);
  }
  return 0;
}
