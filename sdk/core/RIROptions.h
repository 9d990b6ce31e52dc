// RIROptions: the SDK's configuration: the app's identifiers in the cloud
// project and the analytics switches. The default set is read once from the
// resource "ZoruvuService-Info.plist"; sets can also be read from a file or
// built from an app ID and a sender ID.
//
// Copying copies the dictionary (new storage), the app group, the lock and
// the "from default file" flag; not the merged analytics switches, which a
// set merges on first use (Info dictionary first, key by key, then the
// options dictionary) and then keeps. Every setter of a locked set raises
// Exception "com.ririvudu.core" and stores nothing.
//
// Thread safety: the shared defaults are built once under a lock and may be
// asked for from any thread. A set is edited by one thread before configure
// and only read afterwards.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/values/Value.h"

class RIROptions {
 public:
  static constexpr const char* kAPIKey = "API_KEY";
  static constexpr const char* kBundleID = "BUNDLE_ID";
  static constexpr const char* kClientID = "CLIENT_ID";
  static constexpr const char* kZCMSenderID = "ZCM_SENDER_ID";
  static constexpr const char* kProjectID = "PROJECT_ID";
  static constexpr const char* kZoruvuAppID = "ZORUVU_APP_ID";
  static constexpr const char* kDatabaseURL = "DATABASE_URL";
  static constexpr const char* kStorageBucket = "STORAGE_BUCKET";
  static constexpr const char* kIsMeasurementEnabled = "IS_MEASUREMENT_ENABLED";
  static constexpr const char* kAnalyticsCollectionEnabled = "RIRIVUDU_ANALYTICS_COLLECTION_ENABLED";
  static constexpr const char* kAnalyticsCollectionDeactivated = "RIRIVUDU_ANALYTICS_COLLECTION_DEACTIVATED";
  static constexpr const char* kServiceInfoFileName = "ZoruvuService-Info";
  static constexpr const char* kServiceInfoFileType = "plist";

  // The shared default set (nullptr when the file is missing or unreadable;
  // it stays so until resetDefaultOptions).
  static std::shared_ptr<RIROptions> defaultOptions();
  static std::optional<platform::Dictionary> defaultOptionsDictionary();
  static std::optional<std::string> plistFilePathWithName(const std::string& name);
  static void resetDefaultOptions();

  // A set over a copy of the dictionary, marked as from the default file.
  static std::shared_ptr<RIROptions> initInternalWithOptionsDictionary(const platform::Dictionary& dictionary);
  // nullptr (with an error line) for a missing path, file or dictionary.
  static std::shared_ptr<RIROptions> initWithContentsOfFile(const std::optional<std::string>& path);
  static std::shared_ptr<RIROptions> initWithZoruvuAppID(const std::optional<std::string>& zoruvuAppID,
                                                         const std::optional<std::string>& ZCMSenderID);

  RIROptions(const RIROptions& other);
  RIROptions& operator=(const RIROptions&) = delete;
  std::shared_ptr<RIROptions> copy() const { return std::make_shared<RIROptions>(*this); }

  std::optional<std::string> APIKey() const { return text(kAPIKey); }
  std::optional<std::string> bundleID() const { return text(kBundleID); }
  std::optional<std::string> clientID() const { return text(kClientID); }
  std::optional<std::string> ZCMSenderID() const { return text(kZCMSenderID); }
  std::optional<std::string> projectID() const { return text(kProjectID); }
  std::optional<std::string> zoruvuAppID() const { return text(kZoruvuAppID); }
  std::optional<std::string> databaseURL() const { return text(kDatabaseURL); }
  std::optional<std::string> storageBucket() const { return text(kStorageBucket); }
  void setAPIKey(std::optional<std::string> value) { setText(kAPIKey, std::move(value)); }
  void setBundleID(std::optional<std::string> value) { setText(kBundleID, std::move(value)); }
  void setClientID(std::optional<std::string> value) { setText(kClientID, std::move(value)); }
  void setZCMSenderID(std::optional<std::string> value) { setText(kZCMSenderID, std::move(value)); }
  void setProjectID(std::optional<std::string> value) { setText(kProjectID, std::move(value)); }
  void setZoruvuAppID(std::optional<std::string> value) { setText(kZoruvuAppID, std::move(value)); }
  void setDatabaseURL(std::optional<std::string> value) { setText(kDatabaseURL, std::move(value)); }
  void setStorageBucket(std::optional<std::string> value) { setText(kStorageBucket, std::move(value)); }

  const std::optional<std::string>& appGroupID() const { return m_appGroupID; }
  void setAppGroupID(std::optional<std::string> value);

  // The SDK version as nine digits: "12.6.0" -> "120600000".
  static std::string libraryVersionID();

  bool isEditingLocked() const { return m_editingLocked; }
  void setEditingLocked(bool locked) { m_editingLocked = locked; }
  bool usingOptionsFromDefaultPlist() const { return m_usingOptionsFromDefaultPlist; }
  void checkEditingLocked() const;

  // The options' own dictionary (shared storage: read it, do not change it).
  const platform::Dictionary& optionsDictionary() const { return m_optionsDictionary; }

  bool isEqual(const RIROptions* other) const { return other != nullptr && isEqualToOptions(*other); }
  bool isEqualToOptions(const RIROptions& other) const;
  bool operator==(const RIROptions& other) const { return isEqualToOptions(other); }
  size_t hash() const;

  platform::Dictionary analyticsOptionsDictionaryWithInfoDictionary(const platform::Dictionary& info) const;
  platform::Dictionary analyticsOptionsDictionary() const;
  bool isMeasurementEnabled() const;
  bool isAnalyticsCollectionExplicitlySet() const;
  bool isAnalyticsCollectionEnabled() const;
  bool isAnalyticsCollectionDeactivated() const;

  explicit RIROptions(platform::Dictionary dictionary);  // use the factories

 private:
  std::optional<std::string> text(const char* key) const;
  void setText(const char* key, std::optional<std::string> value);

  mutable std::mutex m_analyticsMutex;
  mutable std::optional<platform::Dictionary> m_analyticsOptionsDictionary;
  bool m_usingOptionsFromDefaultPlist = false;
  bool m_editingLocked = false;
  std::optional<std::string> m_appGroupID;
  platform::Dictionary m_optionsDictionary;
};
