#include "sdk/installations/RIRInstallationsIIDStore.h"

#include <algorithm>

#include "platform/app/Bundle.h"
#include "platform/crypto/Digest.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/keychain/Keychain.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/text/Base64.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"

using platform::Error;
using platform::Value;

namespace {

platform::Bytes tagWithPrefix(const std::string& prefix, const std::string& bundleID) {
  std::string tag = prefix + bundleID;
  return platform::Bytes(tag.begin(), tag.end());
}

std::optional<Error> deleteKeyWithTagPrefix(const std::string& prefix, const std::string& bundleID) {
  platform::KeychainQuery query = platform::KeychainQuery::key(tagWithPrefix(prefix, bundleID));
  std::optional<Error> cause;
  platform::KeychainStatus status = platform::Keychain::shared()->remove(query, &cause);
  if (status == platform::kKeychainSuccess || status == platform::kKeychainItemNotFound) return std::nullopt;
  return RIRInstallationsErrorUtil::keychainErrorWithFunction("SecItemDelete", status, cause);
}

}  // namespace

std::optional<std::string> RIRInstallationsIIDStore::bundleIdentifier() {
  std::optional<std::string> identifier = platform::Bundle::main()->bundleIdentifier();
  if (identifier && identifier->empty()) return std::nullopt;
  return identifier;
}

std::string RIRInstallationsIIDStore::plistPath() {
  return platform::StandardFolders::applicationSupport() + "/Zoruvu/RirivuduInstanceID/com.zoruvu.iid-keypair.plist";
}

bool RIRInstallationsIIDStore::hasPlistIIDFlag() {
  platform::Result<platform::Dictionary> plist = platform::PropertyList::readDictionary(plistPath());
  return plist && plist->contains(kRIRInstallationsIIDCreationTimePlistKey);
}

std::optional<Error> RIRInstallationsIIDStore::deleteIIDFlagFromPlist() {
  std::string path = plistPath();
  if (!platform::fs::exists(path)) return std::nullopt;
  platform::Result<platform::Dictionary> plist = platform::PropertyList::readDictionary(path);
  // An unreadable list holds no marker that could be removed; leave the file alone.
  if (!plist) return std::nullopt;
  platform::Dictionary dictionary = plist.value();
  if (!dictionary.remove(kRIRInstallationsIIDCreationTimePlistKey)) return std::nullopt;
  return platform::PropertyList::writeFile(path, Value(dictionary));
}

std::optional<platform::Bytes> RIRInstallationsIIDStore::IIDPublicKeyData() {
  std::optional<std::string> bundleID = bundleIdentifier();
  if (!bundleID) return std::nullopt;
  platform::KeychainQuery query = platform::KeychainQuery::key(tagWithPrefix(kRIRInstallationsIIDPublicKeyPrefix, *bundleID));
  query.returnData = true;
  platform::KeychainReadResult result = platform::Keychain::shared()->copyMatching(query);
  if (result.status != platform::kKeychainSuccess || !result.data || result.data->empty()) return std::nullopt;
  return result.data;
}

std::string RIRInstallationsIIDStore::IIDWithPublicKeyData(const platform::Bytes& publicKeyData) {
  platform::Digest::Sha1 digest = platform::Digest::sha1(publicKeyData);
  digest[0] = static_cast<uint8_t>(0x70 | (digest[0] & 0x0F));
  std::string text = platform::Base64::encode(std::span<const uint8_t>(digest.data(), 8));
  std::replace(text.begin(), text.end(), '/', '_');
  std::replace(text.begin(), text.end(), '+', '-');
  text.erase(std::remove(text.begin(), text.end(), '='), text.end());
  return text;
}

RBLPromisePtr RIRInstallationsIIDStore::existingIID() const {
  return RBLPromise::onQueueDo(platform::globalQueue(platform::Qos::Utility),
                               []() -> RBLResolution {
                                 if (!hasPlistIIDFlag()) return Value();
                                 std::optional<platform::Bytes> key = IIDPublicKeyData();
                                 if (!key) return Value();
                                 return Value(IIDWithPublicKeyData(*key));
                               })
      ->validate([](const Value& value) { return value.isString() && !value.asString()->empty(); });
}

RBLPromisePtr RIRInstallationsIIDStore::deleteExistingIID() const {
  return RBLPromise::onQueueDo(platform::globalQueue(platform::Qos::Utility), []() -> RBLResolution {
    if (std::optional<Error> error = deleteIIDFlagFromPlist()) return *error;
    std::optional<std::string> bundleID = bundleIdentifier();
    if (!bundleID) return Value();
    if (std::optional<Error> error = deleteKeyWithTagPrefix(kRIRInstallationsIIDPublicKeyPrefix, *bundleID)) {
      return *error;
    }
    if (std::optional<Error> error = deleteKeyWithTagPrefix(kRIRInstallationsIIDPrivateKeyPrefix, *bundleID)) {
      return *error;
    }
    return Value();
  });
}
