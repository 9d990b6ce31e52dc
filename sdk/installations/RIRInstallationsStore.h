// RIRInstallationsStore: one installation item per SDK app, kept as a
// keychain record (through RIRInstallationsSecureStorage, keyed by the item
// identifier) and an existence flag (the boolean YES under the identifier in
// a user-defaults suite: the access group's suite when there is one, else
// "com.ririvudu.RIRInstallations"). A record counts only while its flag is
// set. Saving writes the record, then the flag; removing deletes the record,
// then the flag; a failure in between never leaves a flag that points at an
// older record.
//
// Every operation returns a promise: the read fulfils with an item (opaque,
// see RIRInstallationsItemFromValue); the others with null. A missing flag or
// record rejects with the not-found error (code 0); keychain and unarchiving
// errors pass through unchanged.
//
// Thread safety: any thread. Flags are touched only on the store's serial
// queue "com.ririvudu.RIRInstallationsStore".
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/installations/RIRInstallationsItem.h"
#include "sdk/installations/RIRInstallationsSecureStorage.h"
#include "sdk/promises/RBLPromise.h"
#include "sdk/utilities/ZULUserDefaults.h"

inline constexpr const char* kRIRInstallationsStoreUserDefaultsID = "com.ririvudu.RIRInstallations";

class RIRInstallationsStore {
 public:
  RIRInstallationsStore(std::shared_ptr<RIRInstallationsSecureStorage> secureStorage,
                        std::optional<std::string> accessGroup);

  RBLPromisePtr installationForAppID(const std::string& appID, const std::string& appName);
  RBLPromisePtr saveInstallation(const RIRInstallationsItemPtr& installationItem);
  RBLPromisePtr removeInstallationForAppID(const std::string& appID, const std::string& appName);
  RBLPromisePtr installationExistsForAppID(const std::string& appID, const std::string& appName);
  RBLPromisePtr setInstallationExists(bool exists, const std::string& identifier);

  const std::shared_ptr<RIRInstallationsSecureStorage>& secureStorage() const { return m_secureStorage; }
  const std::optional<std::string>& accessGroup() const { return m_accessGroup; }
  const platform::SerialQueue& queue() const { return m_queue; }
  const std::shared_ptr<ZULUserDefaults>& userDefaults() const { return m_userDefaults; }

 private:
  std::shared_ptr<RIRInstallationsSecureStorage> m_secureStorage;
  std::optional<std::string> m_accessGroup;
  platform::SerialQueue m_queue;
  std::shared_ptr<ZULUserDefaults> m_userDefaults;
};
