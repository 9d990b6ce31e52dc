// The fake collector's reading of upload requests (and of the client-metrics
// reports inside them) and of its script text: damaged input is recorded as
// a decoding error or refused with a line number, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "testing/fakes/transport/FakeCollector.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  testkit::RecordedRequest request;
  request.method = "POST";
  request.path = "/v1/cct/batchlog";
  request.body = input;
  const testkit::CollectedRequest collected = testkit::FakeCollector::decode(request);
  FUZZ_CHECK(!collected.decodingError || collected.sources.empty());
  FUZZ_CHECK(!testkit::FakeCollector::describe(collected).empty());

  std::string error;
  auto script = testkit::FakeCollector::parseScript(input, &error);
  FUZZ_CHECK(script.has_value() || error.rfind("line ", 0) == 0);
  return 0;
}
