// APMConsentSettingsUtil: the process-wide holder of the user's measurement
// consent: four consent types ("ad_storage", "analytics_storage",
// "ad_user_data", "ad_personalization"), each "granted" or "denied" (and
// "eu_consent_policy" for the last two), the source that set them, the
// configuration's defaults, delegations and regional defaults, and one
// diagnostic digit per type. It answers the engine's consent questions,
// ranks sources (a lower number takes precedence; 5 and 10 are peers) and
// builds the two texts that travel with uploads:
//   consentSignals()      "G1" + ad storage + analytics storage, each "1"
//                         granted, "0" denied, "-" unknown ("G11-");
//   consentDiagnostics()  "1" + one digit per type ("15555").
// It logs and persists nothing; the analytics front persists the settings.
//
// Stored values are compared case-insensitively and only when they are
// strings. Sources: 5 TCF data, 10 a third party, 20 the Info.plist
// defaults, 30 the application, 40 first-party settings kept for start-up,
// 100 nothing applied yet.
//
// Concurrency: all state lives on the serial queue
// "APMConsentSettingsUtilQueue" (made on first use, never destroyed).
// Readers run synchronously on it and writers asynchronously, so a read made
// after a write from the same thread sees the write. Never call a member
// from a task of that queue (the synchronous read would deadlock).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "platform/values/Value.h"

class APMConsentSettingsUtil {
 public:
  static constexpr const char* kQueueLabel = "APMConsentSettingsUtilQueue";

  static constexpr const char* kAdStorage = "ad_storage";
  static constexpr const char* kAnalyticsStorage = "analytics_storage";
  static constexpr const char* kAdUserData = "ad_user_data";
  static constexpr const char* kAdPersonalization = "ad_personalization";
  static constexpr const char* kGranted = "granted";
  static constexpr const char* kDenied = "denied";
  static constexpr const char* kEUConsentPolicy = "eu_consent_policy";

  static constexpr int64_t kSourceTCF = 5;
  static constexpr int64_t kSourceThirdParty = 10;
  static constexpr int64_t kSourcePlist = 20;
  static constexpr int64_t kSourceApplication = 30;
  static constexpr int64_t kSourceFirstPartyStart = 40;
  static constexpr int64_t kSourceNone = 100;

  static constexpr const char* kPlistAdStorageKey = "ZORUVU_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE";
  static constexpr const char* kPlistAnalyticsStorageKey = "ZORUVU_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE";
  static constexpr const char* kPlistAdUserDataKey = "ZORUVU_ANALYTICS_DEFAULT_ALLOW_AD_USER_DATA";
  static constexpr const char* kPlistAdPersonalizationKey = "ZORUVU_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS";

  APMConsentSettingsUtil() = delete;

  // --- readers (synchronous) ---------------------------------------------------
  // Copies; none while unset.
  static std::optional<platform::Dictionary> consentSettings();
  static std::optional<platform::Dictionary> defaultSettings();
  static std::optional<platform::Dictionary> delegatedSettings();
  static std::optional<platform::Dictionary> regionalDefaults();
  static int64_t consentSource();
  static int64_t version();
  // The settings hold "denied" for the type (defaults are not consulted).
  static bool isAdStorageDenied();
  static bool isAnalyticsStorageDenied();
  // The effective "ad_user_data" (EU policy, delegation, defaults) is denied.
  static bool isAdUserDataDenied();
  // The effective "ad_personalization": 0 denied, 1 granted, none.
  static std::optional<int64_t> adPersonalization();
  static bool didAdUserDataConsentChange(bool previouslyDenied);
  static bool isConsentSourceEqualPriority(int64_t source);
  static bool isConsentSourceHigherPriority(int64_t source);
  static std::string consentSignals();
  // Refreshes the digits (keeping those of set types), then the text.
  static std::string consentDiagnostics();
  static std::string description();

  // --- writers (asynchronous) --------------------------------------------------
  // A copy; none also sets the source to 100 and refreshes the digits.
  static void setConsentSettings(const std::optional<platform::Dictionary>& settings);
  static void setDefaultSettings(const std::optional<platform::Dictionary>& settings);
  static void setDelegatedSettings(const std::optional<platform::Dictionary>& settings);
  static void setRegionalDefaults(const std::optional<platform::Dictionary>& settings);
  // Sets the source and refreshes the digits from it.
  static void setConsentSource(int64_t source);
  // Only 1 and 2 are accepted.
  static void setVersion(int64_t version);
  // Merges the entries (an entry replaces the same key).
  static void updateSettings(const platform::Dictionary& settings);
  // Merges, sets the source and gives every merged type the source's digit.
  static void updateSettingsConsentSource(const platform::Dictionary& settings, int64_t source);
  // Creates the digits (all 0) when missing.
  static void setDiagnosticSourceForConsentType(int64_t digit, const std::string& type);
  static void unsetAdPersonalization();
  // Source 100, every dictionary cleared, every digit 0.
  static void clearAllSettings();

  // --- pure helpers ------------------------------------------------------------
  // Only the four type keys present in the dictionary, values unchanged.
  static platform::Dictionary consentSettingsFromDictionary(const platform::Dictionary& dictionary);
  // The Info.plist defaults of the main bundle.
  static platform::Dictionary consentSettingsFromPlist();

  // The queue itself (tests wait on it).
  static const platform::SerialQueue& queue();
  // Version 1 and everything cleared, as in a fresh process (tests).
  static void resetForTesting();
};

// 1..4 for the type keys, else 0.
int64_t APMConsentTypeFromName(const std::string& name);
// 1 "granted", 2 "denied", else 0.
int64_t APMConsentStatusFromName(const std::string& name);
// The diagnostic digit of a source: 5 -> 7, 10 and 30 -> 5, 20 -> 3, 40 -> 4, else 0.
int64_t APMConsentDiagnosticCodeForSource(int64_t source);
// The value, lower-cased, is "eu_consent_policy" for "ad_user_data" or "ad_personalization".
bool APMConsentIsEUConsentPolicy(const std::string& type, const platform::Value& value);
// The regional defaults' value of the type, else "denied" for "ad_user_data"
// and "ad_personalization" and "granted" for the others.
std::string APMConsentRegionalValue(const std::string& type, const std::optional<platform::Dictionary>& regional);
// An Info.plist value as a consent value, none when it gives nothing.
std::optional<std::string> APMConsentValueFromPlistValue(const std::string& type, const platform::Value& value);
