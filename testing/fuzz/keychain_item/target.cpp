// Keychain item files: a damaged or hostile item file never crashes a query
// (every query reads every file), is skipped and kept as it is, and leaves
// the other items readable and writable; an item file that reads as an item
// takes an update and reads back with the new data.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/keychain/Keychain.h"
#include "platform/storage/FileSystem.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::Bytes;
using platform::Keychain;
using platform::KeychainQuery;

namespace {

std::string g_root;

KeychainQuery query(std::string service, std::string account) {
  KeychainQuery q = KeychainQuery::genericPassword(std::move(service), std::move(account));
  q.returnData = true;
  return q;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : platform::fs::temporaryDirectory()) +
                        "/keychain-fuzz-XXXXXX";
  char* folder = ::mkdtemp(pattern.data());
  if (folder == nullptr) return 1;
  g_root = std::string(folder) + "/keychain";
  ::atexit([] { platform::fs::removeItem(platform::fs::parentPath(g_root)); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::fs::removeItem(g_root);
  Keychain keychain(g_root);
  KeychainQuery good = query("fuzz.service", "good");
  good.valueData = Bytes{'o', 'k'};
  FUZZ_CHECK(keychain.add(good) == platform::kKeychainSuccess);

  const Bytes contents(data, data + size);
  const std::string file = platform::fs::joinPath(g_root, "0000000000000000000000000000000000000000.item");
  FUZZ_CHECK(!platform::fs::writeFile(file, contents, 0600));

  KeychainQuery keys;
  keys.itemClass = platform::KeychainItemClass::Key;
  auto passwords = keychain.copyAllMatching(query("*", "*"));
  auto keyItems = keychain.copyAllMatching(keys);
  FUZZ_CHECK(passwords.status == platform::kKeychainSuccess);

  if (passwords.data.size() == 1 && keyItems.status == platform::kKeychainItemNotFound) {
    // Not an item: skipped and kept byte for byte; the good item works on.
    FUZZ_CHECK(keychain.copyMatching(query("fuzz.service", "good")).data == Bytes({'o', 'k'}));
    FUZZ_CHECK(keychain.update(query("fuzz.service", "good"), Bytes{'n', 'e', 'w'}) == platform::kKeychainSuccess);
    FUZZ_CHECK(keychain.copyMatching(query("fuzz.service", "good")).data == Bytes({'n', 'e', 'w'}));
    FUZZ_CHECK(keychain.remove(query("fuzz.service", "good")) == platform::kKeychainSuccess);
    FUZZ_CHECK(platform::fs::readFile(file).valueOr(Bytes()) == contents);
    return 0;
  }
  // An item (of any identity): it takes new data and reads back with it.
  for (const KeychainQuery& every : {query("*", "*"), keys}) {
    auto before = keychain.copyAllMatching(every);
    if (before.status != platform::kKeychainSuccess) continue;
    FUZZ_CHECK(keychain.update(every, Bytes{'x'}) == platform::kKeychainSuccess);
    auto after = keychain.copyAllMatching(every);
    FUZZ_CHECK(after.data.size() == before.data.size());
    for (const Bytes& stored : after.data) FUZZ_CHECK(stored == Bytes{'x'});
  }
  return 0;
}
