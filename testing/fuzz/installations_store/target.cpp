// Stored installation records (keyed archives of RIRInstallationsStoredItem
// kept in the keychain) and the legacy token data of the older identity
// library: reading is an error or a value, never a crash; a record that
// reads archives again and reads back with the same fields.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/installations/RIRInstallationsIIDTokenStore.h"
#include "sdk/installations/RIRInstallationsItem.h"
#include "sdk/installations/RIRInstallationsStoredItem.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

std::shared_ptr<RIRInstallationsStoredItem> read(const platform::Bytes& bytes) {
  auto decoded = platform::KeyedUnarchiver::unarchivedObject({RIRInstallationsStoredItem::kClassName}, bytes);
  if (!decoded) return nullptr;
  auto stored = std::dynamic_pointer_cast<RIRInstallationsStoredItem>(platform::KeyedArchiver::unwrap(*decoded));
  FUZZ_CHECK(stored != nullptr || decoded->isNull());
  return stored;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RIRInstallationsRegisterArchiveClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes bytes(data, data + size);
  auto legacy = RIRInstallationsIIDTokenStore::IIDCheckinWithData(bytes);
  FUZZ_CHECK(!legacy || !legacy->empty());

  std::shared_ptr<RIRInstallationsStoredItem> stored = read(bytes);
  if (!stored) return 0;
  // As the store hands it out: an item of the record, valid or not.
  RIRInstallationsItem item("1:123:ios:abc", "app");
  item.updateWithStoredItem(*stored);
  item.isValid();

  auto again = platform::KeyedArchiver::archivedData(*item.storedItem());
  FUZZ_CHECK(again.ok());
  std::shared_ptr<RIRInstallationsStoredItem> back = read(*again);
  FUZZ_CHECK(back != nullptr);
  FUZZ_CHECK(back->ririvuduInstallationID == stored->ririvuduInstallationID);
  FUZZ_CHECK(back->refreshToken == stored->refreshToken);
  FUZZ_CHECK(back->registrationStatus == stored->registrationStatus);
  FUZZ_CHECK(back->IIDDefaultToken == stored->IIDDefaultToken);
  FUZZ_CHECK((back->authToken == nullptr) == (stored->authToken == nullptr));
  if (stored->authToken) FUZZ_CHECK(*back->authToken == *stored->authToken);
  return 0;
}
