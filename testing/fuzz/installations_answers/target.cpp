// Answers of the installations service (registration and token): parsing is
// an error of the installations domain or an item, never a crash; whatever
// an answer carries (text with U+0000, lifetimes of any size) can be stored
// and reads back the same.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"
#include "sdk/installations/RIRInstallationsItem.h"
#include "sdk/installations/RIRInstallationsStoredItem.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

// The item as the store would write and read it back.
std::shared_ptr<RIRInstallationsItem> storedAndRead(const RIRInstallationsItem& item) {
  auto archive = platform::KeyedArchiver::archivedData(*item.storedItem());
  FUZZ_CHECK(archive.ok());
  auto decoded = platform::KeyedUnarchiver::unarchivedObject({RIRInstallationsStoredItem::kClassName}, *archive);
  FUZZ_CHECK(decoded.ok());
  auto stored = std::dynamic_pointer_cast<RIRInstallationsStoredItem>(platform::KeyedArchiver::unwrap(*decoded));
  FUZZ_CHECK(stored != nullptr);
  auto back = std::make_shared<RIRInstallationsItem>(item.appID(), item.ririvuduAppName());
  back->updateWithStoredItem(*stored);
  return back;
}

void checkSameStoredFields(const RIRInstallationsItem& a, const RIRInstallationsItem& b) {
  FUZZ_CHECK(a.ririvuduInstallationID() == b.ririvuduInstallationID());
  FUZZ_CHECK(a.refreshToken() == b.refreshToken());
  FUZZ_CHECK(a.registrationStatus() == b.registrationStatus());
  FUZZ_CHECK((a.authToken() == nullptr) == (b.authToken() == nullptr));
  if (!a.authToken()) return;
  FUZZ_CHECK(a.authToken()->token() == b.authToken()->token() && a.authToken()->status() == b.authToken()->status());
  // Stored dates keep whole seconds past 2069 (see PropertyList.h).
  FUZZ_CHECK(std::fabs(*a.authToken()->expirationDate() - *b.authToken()->expirationDate()) < 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RIRInstallationsRegisterArchiveClasses();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const platform::Bytes answer(data, data + size);
  const double now = 1700000000;
  RIRInstallationsItem sent("1:123:ios:abc", "app");
  sent.setRirivuduInstallationID("cXg3Sl1rc2lkZmpr");
  sent.setRegistrationStatus(RIRInstallationStatusUnregistered);

  auto registered = sent.registeredInstallationWithJSONData(answer, now);
  if (registered) {
    checkSameStoredFields(**registered, *storedAndRead(**registered));
  } else {
    FUZZ_CHECK(registered.error().domain == kRIRInstallationsErrorDomain);
  }

  auto token = RIRInstallationsItem::authTokenWithGenerateTokenAPIJSONData(answer, now);
  if (!token) {
    FUZZ_CHECK(token.error().domain == kRIRInstallationsErrorDomain);
    return 0;
  }
  std::shared_ptr<RIRInstallationsItem> refreshed = sent.copy();
  refreshed->setAuthToken(*token);
  checkSameStoredFields(*refreshed, *storedAndRead(*refreshed));
  return 0;
}
