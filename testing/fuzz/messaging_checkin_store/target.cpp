// The stored check-in: the keychain content "DEVICEID|SECRET" and the
// property list "g-checkin.plist". Never a crash; credentials read back are
// what the content held; a record's plist contents write back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/storage/PropertyList.h"
#include "sdk/messaging/RIRMessagingCheckinPreferences.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto prefs = RIRMessagingCheckinPreferences::preferencesFromKeychainContents(text)) {
    FUZZ_CHECK(prefs->checkinKeychainContent() == text);
  }

  auto plist = platform::PropertyList::readDictionary(platform::Bytes(data, data + size));
  if (!plist) return 0;
  RIRMessagingCheckinPreferences prefs("1", "2");
  prefs.updateWithCheckinPlistContents(plist.value());
  platform::Dictionary contents = prefs.checkinPlistContents();
  RIRMessagingCheckinPreferences copy("1", "2");
  copy.updateWithCheckinPlistContents(contents);
  FUZZ_CHECK(platform::Value(copy.checkinPlistContents()) == platform::Value(contents));
  return 0;
}
