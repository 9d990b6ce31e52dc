// Keyed archives from stored files: unarchiving is an error or a value,
// never a crash; a decoded root archives again and reads back equal, with
// every class checked against an allow-list that names only plain values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::KeyedArchiver;
using platform::KeyedUnarchiver;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  auto unarchiver = KeyedUnarchiver::forReadingFromData(bytes);
  if (!unarchiver) {
    FUZZ_CHECK(unarchiver.error().code == KeyedUnarchiver::kReadCorruptError);
    return 0;
  }
  // Scalars of any stored kind read as numbers or their defaults.
  (*unarchiver)->decodeInt64("root");
  (*unarchiver)->decodeDouble("root");
  (*unarchiver)->decodeBool("root");
  auto root = (*unarchiver)->decodeObject(KeyedArchiver::kRootKey);
  if (!root) {
    FUZZ_CHECK(root.error().code == KeyedUnarchiver::kReadCorruptError);
    FUZZ_CHECK(!(*unarchiver)->decodeObject(KeyedArchiver::kRootKey));  // the first failure sticks
    return 0;
  }
  const std::vector<std::string> plain = {KeyedArchiver::kStringClass, KeyedArchiver::kNumberClass,
                                          KeyedArchiver::kDataClass,   KeyedArchiver::kDateClass,
                                          KeyedArchiver::kArrayClass,  KeyedArchiver::kDictionaryClass,
                                          KeyedArchiver::kSetClass,    KeyedArchiver::kNullClass};
  auto strict = KeyedUnarchiver::unarchivedObject(plain, bytes);
  FUZZ_CHECK(!strict || *strict == *root);

  auto again = KeyedArchiver::archivedData(*root);
  FUZZ_CHECK(again.ok());
  auto reread = KeyedUnarchiver::forReadingFromData(*again);
  FUZZ_CHECK(reread.ok());
  auto back = (*reread)->decodeObject(KeyedArchiver::kRootKey);
  FUZZ_CHECK(back.ok() && *back == *root);
  return 0;
}
