#include "sdk/messaging/RIRMessagingCheckinStore.h"

#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/utilities/ZULBundleAccess.h"

using platform::Value;

namespace {

constexpr long kCodeNoKeychainContent = 28000;
constexpr long kCodeNoPlistContent = 28001;
constexpr long kCodeSaveFailed = 28003;
constexpr long kCodeDeleted = 28009;
constexpr long kCodeSaved = 28010;

platform::Bytes utf8(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

std::string nonEmptyString(const platform::Dictionary& dictionary, const char* key) {
  const std::string* text = dictionary[key].asString();
  return text ? *text : std::string();
}

}  // namespace

RIRMessagingCheckinStore::RIRMessagingCheckinStore()
    : m_plist(kRIRMessagingCheckinFileName, kRIRMessagingInstanceIDSubDirectory),
      m_keychain(kRIRMessagingCheckinKeychainGeneric) {}

std::string RIRMessagingCheckinStore::bundleIdentifierForKeychainAccount() {
  return ZULBundleAccess::bundleIdentifier();
}

bool RIRMessagingCheckinStore::hasCheckinPlist() const { return m_plist.doesFileExist(); }

void RIRMessagingCheckinStore::saveCheckinPreferences(const std::shared_ptr<RIRMessagingCheckinPreferences>& preferences,
                                                      Handler handler) {
  const RIRMessagingLogger& logger = RIRMessagingSharedLogger();
  std::optional<std::string> keychainContent = preferences ? preferences->checkinKeychainContent() : std::nullopt;
  if (!keychainContent) {
    const char* reason = "Failed to get checkin keychain content from memory.";
    logger.logFuncDebug(kCodeNoKeychainContent, reason);
    if (handler) handler(RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeNoCheckin, reason));
    return;
  }
  platform::Dictionary plistContents = preferences->checkinPlistContents();
  if (plistContents.empty()) {
    const char* reason = "Failed to get checkin plist contents from memory.";
    logger.logFuncDebug(kCodeNoPlistContent, reason);
    if (handler) handler(RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeNoCheckin, reason));
    return;
  }
  if (std::optional<platform::Error> error = m_plist.writeDictionary(plistContents)) {
    logger.logFuncDebug(kCodeSaveFailed, "Failed to save checkin plist contents.Will delete auth credentials");
    // The credentials go too, so that keychain and plist never disagree.
    m_keychain.removeItemsMatchingService(kRIRMessagingCheckinKeychainService, bundleIdentifierForKeychainAccount(),
                                          nullptr);
    if (handler) handler(std::move(error));
    return;
  }
  logger.logFuncDebug(kCodeSaved, "Checkin plist file is saved");
  if (preferences->hasPreCachedAuthCredentials()) {
    if (handler) handler(std::nullopt);
    return;
  }
  m_keychain.setData(utf8(*keychainContent), kRIRMessagingCheckinKeychainService, bundleIdentifierForKeychainAccount(),
                     std::move(handler));
}

void RIRMessagingCheckinStore::removeCheckinPreferencesWithHandler(Handler handler) {
  if (std::optional<platform::Error> error = m_plist.deleteFile()) {
    if (handler) handler(std::move(error));
    return;
  }
  RIRMessagingSharedLogger().logFuncDebug(kCodeDeleted, "Deleted checkin plist file.");
  m_keychain.removeItemsMatchingService(kRIRMessagingCheckinKeychainService, bundleIdentifierForKeychainAccount(),
                                        std::move(handler));
}

std::shared_ptr<RIRMessagingCheckinPreferences> RIRMessagingCheckinStore::cachedCheckinPreferences() {
  std::shared_ptr<RIRMessagingCheckinPreferences> preferences;
  if (std::optional<platform::Bytes> item =
          m_keychain.dataForService(kRIRMessagingCheckinKeychainService, bundleIdentifierForKeychainAccount())) {
    preferences = RIRMessagingCheckinPreferences::preferencesFromKeychainContents(std::string(item->begin(), item->end()));
  }
  std::optional<platform::Dictionary> plist = m_plist.contentAsDictionary();
  if (!preferences) {
    if (!plist) return nullptr;
    std::string deviceID = nonEmptyString(*plist, kRIRMessagingCheckinDeviceAuthIdKey);
    std::string secret = nonEmptyString(*plist, kRIRMessagingCheckinSecretTokenKey);
    if (deviceID.empty() || secret.empty()) return nullptr;
    preferences = std::make_shared<RIRMessagingCheckinPreferences>(deviceID, secret);
  }
  if (plist) preferences->updateWithCheckinPlistContents(*plist);
  return preferences;
}
