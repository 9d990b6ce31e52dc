// APMPersistedConfig: the measurement engine's values that survive restarts
// outside its database (identifiers, upload and backoff times, configuration
// validators, session and campaign state), one typed property per key over
// an APMPersistentDictionary named after the suite. The engine uses one
// shared instance, suite "com.zoruvu.vod.measurement"; creating it first
// moves the suite's older preference file to the dictionary's place.
//
// Every typed read and write runs synchronously on the serial queue
// "APMPersistedConfig", so never call them from that queue. Writes also
// schedule a synchronize of the store 1 second later (each write restarts
// the wait; platform timers, so a virtual clock drives it); the store writes
// its file by itself 1 second after its first change.
// "measurement_enabled_state" lives in the application's own preferences.
// The midnight offset is drawn once per installation (0 <= offset < 86400 s,
// millisecond resolution) and then kept.
//
// Thread safety: any thread except the serial queue itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/base/APMConfigStore.h"
#include "platform/dispatch/CancelHandle.h"
#include "platform/dispatch/SerialQueue.h"

class APMPersistedConfig : public std::enable_shared_from_this<APMPersistedConfig> {
 public:
  static constexpr const char* kQueueLabel = "APMPersistedConfig";
  static constexpr const char* kSharedSuiteName = "com.zoruvu.vod.measurement";

  static constexpr const char* kLastDeleteStaleKey = "/zoruvu/measurement/last_delete_stale";
  static constexpr const char* kSearchAdCampaignKey = "/zoruvu/measurement/is_search_ad_campaign";
  static constexpr const char* kSearchAdLastAttemptKey = "/zoruvu/measurement/search_ad_last_attempt_timestamp";
  static constexpr const char* kSearchAdRetriesKey = "/zoruvu/measurement/search_ad_number_of_retries";
  static constexpr const char* kAppInstanceIDKey = "/zoruvu/measurement/app_instance_id";
  static constexpr const char* kAppIDFromVODKey = "/zoruvu/measurement/vod_app_id";
  static constexpr const char* kAppIDFromVaRudKey = "/zoruvu/measurement/varud_app_id";
  static constexpr const char* kHashedIDFAKey = "/zoruvu/measurement/hashed_idfa";
  static constexpr const char* kDiversionKeyKey = "/zoruvu/measurement/diversion_key";
  static constexpr const char* kMeasurementEnabledStateKey = "/zoruvu/measurement/measurement_enabled_state";
  static constexpr const char* kLastBackoffKey = "/zoruvu/measurement/last_backoff";
  static constexpr const char* kLastSuccessfulUploadKey = "/zoruvu/measurement/last_successful_upload";
  static constexpr const char* kLastFailedUploadKey = "/zoruvu/measurement/last_failed_upload";
  static constexpr const char* kAppVersionKey = "/zoruvu/measurement/app_version";
  static constexpr const char* kOSVersionKey = "/zoruvu/measurement/os_version";
  static constexpr const char* kMidnightOffsetKey = "/zoruvu/measurement/midnight_offset";
  static constexpr const char* kLastMonitorSampleKey = "/zoruvu/measurement/last_monitor_data_sampled_timestamp";
  static constexpr const char* kFirstOpenMillisKey = "/zoruvu/measurement/first_open_timestamp_ms";
  static constexpr const char* kLastModifiedSinceKey = "/zoruvu/measurement/last_modified_since_key";
  static constexpr const char* kConfigETagKey = "/zoruvu/measurement/config_etag";
  static constexpr const char* kConfigVODVersionKey = "/zoruvu/measurement/config_vod_version";
  static constexpr const char* kLoadTimestampKey = "/zoruvu/measurement/load_timestamp";
  static constexpr const char* kAllowPersonalizedAdsKey = "/zoruvu/measurement/allow_personalized_ads";
  static constexpr const char* kFeatureRolloutsKey = "/zoruvu/measurement/ririvudu_feature_rollouts";
  static constexpr const char* kDeepLinkCompleteKey = "/zoruvu/measurement/deep_link_retrieval_complete";
  static constexpr const char* kDeepLinkRetryCountKey = "/zoruvu/measurement/deep_link_retry_count";
  static constexpr const char* kSetLastAdIDResetKey = "/zoruvu/measurement/set_last_advertising_id_reset";
  static constexpr const char* kUnmatchedFirstOpenKey = "/zoruvu/measurement/unmatched_first_open";
  static constexpr const char* kPreviousFirstOpenCountKey = "/zoruvu/measurement/previous_first_open_count";
  static constexpr const char* kPreviousConsentSignalsKey = "/zoruvu/measurement/previous_bundled_consent_signals";
  static constexpr const char* kAdCampaignInfoBufferKey = "/zoruvu/measurement/ad_campaign_info_buffer";
  static constexpr const char* kPSMHashedInputDataKey = "/zoruvu/measurement/psm_hashed_input_data";
  static constexpr const char* kPSMInputTypeKey = "/zoruvu/measurement/psm_input_type";
  static constexpr const char* kPSMCurrentDayKey = "/zoruvu/measurement/psm_current_day";
  static constexpr const char* kLastEngagementEndKey = "/zoruvu/measurement/last_engagement_end";
  static constexpr const char* kSessionNumberKey = "/zoruvu/measurement/session_number";
  static constexpr const char* kSessionTimeoutKey = "/zoruvu/measurement/session_timeout";
  static constexpr const char* kDefaultEventParametersKey = "/zoruvu/measurement/default_event_parameters";
  static constexpr const char* kLastUploadedEventMillisKey = "/zoruvu/measurement/last_uploaded_event_millis";
  static constexpr const char* kSKANEvaluationEventTimeKey = "/zoruvu/measurement/skan_evaluation_event_time_millis";
  static constexpr const char* kSKANEvaluationBackoffKey = "/zoruvu/measurement/skan_evaluation_update_backoff_millis";

  // The shared instance (suite "com.zoruvu.vod.measurement"); nullptr and
  // 27001 at every call when it could not be made.
  static std::shared_ptr<APMPersistedConfig> sharedInstance();
  // Replaces the shared instance; nullptr makes the next use create it anew
  // (tests).
  static void setSharedInstanceForTesting(std::shared_ptr<APMPersistedConfig> instance);
  // Nullptr for an empty name.
  static std::shared_ptr<APMPersistedConfig> initWithSuiteName(const std::string& name);
  ~APMPersistedConfig();

  const std::string& name() const { return m_name; }
  // The store; nullptr when its folder could not be made.
  const std::shared_ptr<APMConfigStore>& userDefaults() const { return m_userDefaults; }
  const platform::SerialQueue& serialQueue() const { return m_serialQueue; }

  // --- typed primitives (synchronous on the serial queue) -------------------
  bool boolForKey(const std::string& key);
  int64_t int64ForKey(const std::string& key);
  // The object's 64-bit value when it is a number, else 0.
  int64_t int64ForKey(const std::string& key, APMConfigStore* store);
  double doubleForKey(const std::string& key);
  std::optional<std::string> stringForKey(const std::string& key);
  std::optional<platform::Dictionary> dictionaryForKey(const std::string& key);
  // The stored object, whatever it is.
  std::optional<platform::Value> numberForKey(const std::string& key);
  void setBool(bool value, const std::string& key);
  void setInt64(int64_t value, const std::string& key);
  void setDouble(double value, const std::string& key);
  // A null value removes the key.
  void setString(const std::optional<std::string>& value, const std::string& key);
  void setDictionary(const std::optional<platform::Dictionary>& value, const std::string& key);
  void setNumber(const platform::Value& value, const std::string& key);
  void clearValues();

  void scheduleSynchronizeToDisk();
  void cancelScheduledSynchronize();
  void synchronizeToDisk();

  // --- properties ---------------------------------------------------------------
  double lastDeleteStaleBundlesTimestamp() { return doubleForKey(kLastDeleteStaleKey); }
  void setLastDeleteStaleBundlesTimestamp(double value) { setDouble(value, kLastDeleteStaleKey); }
  std::optional<platform::Value> searchAdCampaignValue();
  // Only a number is stored; anything else is ignored.
  void setSearchAdCampaignValue(const platform::Value& value);
  double lastSearchAdLookUpTimestamp() { return doubleForKey(kSearchAdLastAttemptKey); }
  void setLastSearchAdLookUpTimestamp(double value) { setDouble(value, kSearchAdLastAttemptKey); }
  int64_t searchAdRetryCount() { return int64ForKey(kSearchAdRetriesKey); }
  void setSearchAdRetryCount(int64_t value) { setInt64(value, kSearchAdRetriesKey); }
  std::optional<std::string> appInstanceID() { return stringForKey(kAppInstanceIDKey); }
  void setAppInstanceID(const std::optional<std::string>& value) { setString(value, kAppInstanceIDKey); }
  std::optional<std::string> appIDFromVOD() { return stringForKey(kAppIDFromVODKey); }
  void setAppIDFromVOD(const std::optional<std::string>& value) { setString(value, kAppIDFromVODKey); }
  std::optional<std::string> appIDFromVaRud() { return stringForKey(kAppIDFromVaRudKey); }
  void setAppIDFromVaRud(const std::optional<std::string>& value) { setString(value, kAppIDFromVaRudKey); }
  std::optional<std::string> hashedResettableDeviceID() { return stringForKey(kHashedIDFAKey); }
  void setHashedResettableDeviceID(const std::optional<std::string>& value) { setString(value, kHashedIDFAKey); }
  std::optional<std::string> diversionKey() { return stringForKey(kDiversionKeyKey); }
  void setDiversionKey(const std::optional<std::string>& value) { setString(value, kDiversionKeyKey); }
  int64_t measurementEnabledState();
  void setMeasurementEnabledState(int64_t value);
  double lastBackoffTimestamp() { return doubleForKey(kLastBackoffKey); }
  void setLastBackoffTimestamp(double value) { setDouble(value, kLastBackoffKey); }
  double lastSuccessfulUploadTimestamp() { return doubleForKey(kLastSuccessfulUploadKey); }
  void setLastSuccessfulUploadTimestamp(double value) { setDouble(value, kLastSuccessfulUploadKey); }
  double lastFailedUploadTimestamp() { return doubleForKey(kLastFailedUploadKey); }
  void setLastFailedUploadTimestamp(double value) { setDouble(value, kLastFailedUploadKey); }
  std::optional<std::string> appVersion() { return stringForKey(kAppVersionKey); }
  void setAppVersion(const std::optional<std::string>& value) { setString(value, kAppVersionKey); }
  std::optional<std::string> osVersion() { return stringForKey(kOSVersionKey); }
  void setOSVersion(const std::optional<std::string>& value) { setString(value, kOSVersionKey); }
  double midnightOffset();
  double lastMonitorDataSampledTimestamp() { return doubleForKey(kLastMonitorSampleKey); }
  void setLastMonitorDataSampledTimestamp(double value) { setDouble(value, kLastMonitorSampleKey); }
  int64_t firstOpenTimestampMilliseconds() { return int64ForKey(kFirstOpenMillisKey); }
  void setFirstOpenTimestampMilliseconds(int64_t value) { setInt64(value, kFirstOpenMillisKey); }
  std::optional<platform::Value> configServerLastModifiedString() { return numberForKey(kLastModifiedSinceKey); }
  void setConfigServerLastModifiedString(const std::optional<std::string>& value) {
    setString(value, kLastModifiedSinceKey);
  }
  std::optional<std::string> configServerETag() { return stringForKey(kConfigETagKey); }
  void setConfigServerETag(const std::optional<std::string>& value) { setString(value, kConfigETagKey); }
  int64_t configVODVersion() { return int64ForKey(kConfigVODVersionKey); }
  void setConfigVODVersion(int64_t value) { setInt64(value, kConfigVODVersionKey); }
  std::optional<platform::Value> loadTimestampValue() { return numberForKey(kLoadTimestampKey); }
  void setLoadTimestampValue(const platform::Value& value) { setObjectWithoutSchedule(value, kLoadTimestampKey); }
  std::optional<platform::Value> allowPersonalizedAds() { return numberForKey(kAllowPersonalizedAdsKey); }
  void setAllowPersonalizedAds(const platform::Value& value) {
    setObjectWithoutSchedule(value, kAllowPersonalizedAdsKey);
  }
  std::optional<std::string> ririvuduFeatureRollouts() { return stringForKey(kFeatureRolloutsKey); }
  void setRirivuduFeatureRollouts(const std::optional<std::string>& value) { setString(value, kFeatureRolloutsKey); }
  std::optional<platform::Value> deferredDeepLinkRetrievalComplete() { return numberForKey(kDeepLinkCompleteKey); }
  void setDeferredDeepLinkRetrievalComplete(const platform::Value& value) {
    setObjectWithoutSchedule(value, kDeepLinkCompleteKey);
  }
  int64_t deferredDeepLinkRetryCount() { return int64ForKey(kDeepLinkRetryCountKey); }
  void setDeferredDeepLinkRetryCount(int64_t value) { setInt64(value, kDeepLinkRetryCountKey); }
  bool shouldSetLastAdvertisingIDResetUserProperty() { return int64ForKey(kSetLastAdIDResetKey) != 0; }
  void setShouldSetLastAdvertisingIDResetUserProperty(bool value) { setInt64(value ? 1 : 0, kSetLastAdIDResetKey); }
  bool unmatchedFirstOpenWithoutIDFA() { return int64ForKey(kUnmatchedFirstOpenKey) != 0; }
  void setUnmatchedFirstOpenWithoutIDFA(bool value) { setInt64(value ? 1 : 0, kUnmatchedFirstOpenKey); }
  std::optional<platform::Value> previousFirstOpenCount() { return numberForKey(kPreviousFirstOpenCountKey); }
  void setPreviousFirstOpenCount(const platform::Value& value) { setNumber(value, kPreviousFirstOpenCountKey); }
  std::optional<std::string> previousBundledConsentSignals() { return stringForKey(kPreviousConsentSignalsKey); }
  void setPreviousBundledConsentSignals(const std::optional<std::string>& value) {
    setString(value, kPreviousConsentSignalsKey);
  }
  std::optional<platform::Value> adCampaignInfoBuffer() { return numberForKey(kAdCampaignInfoBufferKey); }
  void setAdCampaignInfoBuffer(const platform::Value& value) { setObject(value, kAdCampaignInfoBufferKey, true); }
  std::optional<platform::Value> PSMHashedInputData() { return numberForKey(kPSMHashedInputDataKey); }
  void setPSMHashedInputData(const platform::Value& value) { setObject(value, kPSMHashedInputDataKey, true); }
  int64_t PSMInputType() { return int64ForKey(kPSMInputTypeKey); }
  void setPSMInputType(int64_t value) { setInt64(value, kPSMInputTypeKey); }
  std::optional<platform::Value> PSMCurrentDay() { return numberForKey(kPSMCurrentDayKey); }
  void setPSMCurrentDay(const platform::Value& value) { setNumber(value, kPSMCurrentDayKey); }
  double lastSessionActivityClockTime() { return doubleForKey(kLastEngagementEndKey); }
  void setLastSessionActivityClockTime(double value) { setDouble(value, kLastEngagementEndKey); }
  int64_t sessionNumber() { return int64ForKey(kSessionNumberKey); }
  void setSessionNumber(int64_t value) { setInt64(value, kSessionNumberKey); }
  std::optional<platform::Value> sessionTimeoutValue() { return numberForKey(kSessionTimeoutKey); }
  void setSessionTimeoutValue(const platform::Value& value) { setNumber(value, kSessionTimeoutKey); }
  std::optional<platform::Dictionary> defaultEventParameters() { return dictionaryForKey(kDefaultEventParametersKey); }
  void setDefaultEventParameters(const std::optional<platform::Dictionary>& value) {
    setDictionary(value, kDefaultEventParametersKey);
  }
  int64_t lastUploadedEventTimestampMillis() { return int64ForKey(kLastUploadedEventMillisKey); }
  void setLastUploadedEventTimestampMillis(int64_t value) { setInt64(value, kLastUploadedEventMillisKey); }
  int64_t SKANEvaluationEventTimeMillis() { return int64ForKey(kSKANEvaluationEventTimeKey); }
  void setSKANEvaluationEventTimeMillis(int64_t value) { setInt64(value, kSKANEvaluationEventTimeKey); }
  int64_t SKANEvaluationUpdateBackoffMillis() { return int64ForKey(kSKANEvaluationBackoffKey); }
  void setSKANEvaluationUpdateBackoffMillis(int64_t value) { setInt64(value, kSKANEvaluationBackoffKey); }

 private:
  APMPersistedConfig(std::string name, std::shared_ptr<APMConfigStore> store);
  void setObject(const platform::Value& value, const std::string& key, bool schedule);
  void setObjectWithoutSchedule(const platform::Value& value, const std::string& key) {
    setObject(value, key, false);
  }

  const std::string m_name;
  const std::shared_ptr<APMConfigStore> m_userDefaults;
  const platform::SerialQueue m_serialQueue;
  std::mutex m_lock;
  std::optional<platform::CancelHandle> m_synchronizeBlock;
};
