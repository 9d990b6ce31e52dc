// Property lists from files (XML and binary): parsing is an error or a
// value, never a crash or a blow-up; what parses writes back in both formats
// and reads back (binary: equal; XML, which keeps whole seconds of dates: the
// same once written a second time); the lenient read agrees with the strict
// one and keeps only what can be written back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/PropertyList.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::PropertyList;
using platform::PropertyListFormat;
using platform::Value;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PropertyList::parseEmbeddedXml(data, size);

  std::vector<std::string> dropped;
  auto lenient = PropertyList::parseDroppingUnwritable(data, size, dropped);
  auto parsed = PropertyList::parse(data, size);
  if (!parsed) {
    FUZZ_CHECK(parsed.error().domain == PropertyList::kErrorDomain &&
               parsed.error().code == PropertyList::kReadCorruptError);
  } else {
    FUZZ_CHECK(lenient.ok() && dropped.empty() && *lenient == *parsed);
  }
  if (!lenient) {
    FUZZ_CHECK(!parsed);
    return 0;
  }

  auto binary = PropertyList::serialize(*lenient, PropertyListFormat::Binary);
  FUZZ_CHECK(binary.ok());
  auto back = PropertyList::parse(*binary);
  FUZZ_CHECK(back.ok() && *back == *lenient);

  auto xml = PropertyList::serialize(*lenient, PropertyListFormat::Xml);
  if (!xml) {
    FUZZ_CHECK(xml.error().code == PropertyList::kWriteInvalidError);  // larger than the size limit
    return 0;
  }
  auto once = PropertyList::parse(*xml);
  FUZZ_CHECK(once.ok());
  auto twice = PropertyList::parse(PropertyList::serialize(*once, PropertyListFormat::Xml).value());
  FUZZ_CHECK(twice.ok() && *twice == *once);
  return 0;
}
