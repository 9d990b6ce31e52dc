// Stored messaging archives: a token record from the keychain and the
// pending-topics list from user defaults. Never a crash; whatever decodes
// writes back and reads back the same.
#include <cstddef>
#include <cstdint>

#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/messaging/RIRMessagingPendingTopicsList.h"
#include "sdk/messaging/RIRMessagingTokenStore.h"
#include "testing/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  if (auto info = RIRMessagingTokenStore::tokenInfoFromKeychainItem(bytes)) {
    auto archived = RIRMessagingTokenStore::archivedTokenInfo(*info);
    FUZZ_CHECK(archived.ok());
    auto again = RIRMessagingTokenStore::tokenInfoFromKeychainItem(archived.value());
    FUZZ_CHECK(again != nullptr);
    FUZZ_CHECK(again->token() == info->token() && again->scope() == info->scope() &&
               again->authorizedEntity() == info->authorizedEntity() && again->appVersion() == info->appVersion());
    FUZZ_CHECK(static_cast<bool>(again->APNSInfo()) == static_cast<bool>(info->APNSInfo()));
  }

  RIRMessagingPendingTopicsList::registerClasses();
  auto root = platform::KeyedUnarchiver::unarchivedObject(RIRMessagingPendingTopicsList::archiveClasses(), bytes);
  if (root) {
    auto list = std::dynamic_pointer_cast<RIRMessagingPendingTopicsList>(platform::KeyedArchiver::unwrap(root.value()));
    if (list) {
      for (const auto& batch : list->batchSnapshot()) FUZZ_CHECK(!batch.second.empty());
      auto archived = platform::KeyedArchiver::archivedData(*list);
      FUZZ_CHECK(archived.ok());
      auto back = platform::KeyedUnarchiver::unarchivedObject(RIRMessagingPendingTopicsList::archiveClasses(),
                                                              archived.value());
      FUZZ_CHECK(back.ok());
      auto copy = std::dynamic_pointer_cast<RIRMessagingPendingTopicsList>(platform::KeyedArchiver::unwrap(back.value()));
      FUZZ_CHECK(copy && copy->batchSnapshot() == list->batchSnapshot());
    }
  }
  return 0;
}
