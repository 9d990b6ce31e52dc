#include "measurement/base/APMAEU.h"

#include "platform/app/Bundle.h"
#include "platform/app/PurchaseStore.h"
#include "platform/storage/FileSystem.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

std::string lastPathComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::optional<std::string> APMAEU::appStoreRURL() {
  std::shared_ptr<platform::PurchaseStore> store = platform::PurchaseStore::current();
  return store ? store->receiptPath() : std::nullopt;
}

bool APMAEU::isASRS() {
  std::optional<std::string> receipt = appStoreRURL();
  return receipt && lastPathComponent(*receipt) == "sandboxReceipt";
}

bool APMAEU::isFAS() {
  if (isNOD() || isASRS()) return false;
  std::shared_ptr<platform::Bundle> bundle = platform::Bundle::main();
  if (!bundle) return false;
  if (platform::fs::exists(bundle->bundlePath() + "/SC_Info")) return true;
  return APMIsExecutableEncrypted() && !bundle->pathForResource("embedded", "mobileprovision");
}

bool APMAEU::isAEX() {
  std::shared_ptr<platform::Bundle> bundle = platform::Bundle::main();
  return bundle && endsWith(lastPathComponent(bundle->bundlePath()), ".appex");
}

std::string APMAEU::deviceModel() { return ZULAppEnvironmentUtil::deviceModel(); }

std::string APMAEU::systemVersion() { return ZULAppEnvironmentUtil::systemVersion(); }

bool APMIsExecutableEncrypted() {
  // Encryption marks belong to another executable format; an ELF executable
  // carries none.
  return false;
}
