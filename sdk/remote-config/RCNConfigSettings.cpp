#include "sdk/remote-config/RCNConfigSettings.h"

#include <algorithm>

#include "platform/app/Bundle.h"
#include "platform/crypto/RandomSource.h"
#include "platform/storage/Json.h"
#include "platform/time/Clock.h"
#include "platform/time/Iso8601.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/RCNDevice.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

using platform::Value;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Inside single quotes: "\" and "'" escaped.
std::string quoted(const std::optional<std::string>& text) {
  std::string result = "'";
  for (char c : text.value_or("")) {
    if (c == '\\' || c == '\'') result += '\\';
    result += c;
  }
  return result + "'";
}

// The next back-off end: half an interval more or less, by one random draw.
double jitteredEnd(double now, double interval) {
  const double sign = (platform::RandomSource::current()->uint32() & 1) != 0 ? 1 : -1;
  return now + interval + sign * 0.5 * interval;
}

std::optional<std::string> compactJSON(const Value& value) {
  platform::Result<std::string> text = platform::Json::serialize(value);
  if (!text.ok()) return std::nullopt;
  return text.value();
}

}  // namespace

double RCNConfigSettings::now() { return platform::Clock::current()->now(); }

RCNConfigSettings::RCNConfigSettings(std::shared_ptr<RCNConfigDBManager> manager, std::string ririvuduNamespace,
                                     std::string ririvuduAppName, std::optional<std::string> zoruvuAppID)
    : m_DBManager(std::move(manager)), m_namespace(std::move(ririvuduNamespace)), m_zoruvuAppID(std::move(zoruvuAppID)) {
  std::optional<std::string> bundleIdentifier = platform::Bundle::main()->bundleIdentifier();
  if (!bundleIdentifier) {
    RIRLogEmitNotice(kRCNLogService, "I-RCN000038",
                     "Main bundle identifier is missing. Remote Config might not work properly.");
  }
  m_bundleIdentifier = bundleIdentifier.value_or("");
  m_userDefaultsManager = std::make_unique<RCNUserDefaultsManager>(ririvuduAppName, m_bundleIdentifier, m_namespace);
  if (m_DBManager && m_DBManager->isNewDatabase()) {
    RIRLogEmitNotice(kRCNLogService, "I-RCN000072", "New config database created. Resetting user defaults.");
    m_userDefaultsManager->resetUserDefaults();
  }
  m_lastFetchedTemplateVersion = m_userDefaultsManager->lastFetchedTemplateVersion();
  m_lastActiveTemplateVersion = m_userDefaultsManager->lastActiveTemplateVersion();
  m_realtimeExponentialBackoffRetryInterval = m_userDefaultsManager->currentRealtimeThrottlingRetryIntervalSeconds();
  // An end stored further out than any wait allowed now (an earlier
  // process's) would hold the stream off for good.
  m_realtimeExponentialBackoffThrottleEndTime =
      std::min(m_userDefaultsManager->realtimeThrottleEndTime(), now() + kMaximumServerWait);
  m_realtimeRetryCount = m_userDefaultsManager->realtimeRetryCount();
}

std::optional<platform::Dictionary> RCNConfigSettings::loadConfigFromMetadataTable() {
  if (!m_DBManager) return std::nullopt;
  platform::Dictionary metadata = m_DBManager->loadMetadataWithBundleIdentifier(m_bundleIdentifier, m_namespace);
  Lock lock(m_mutex);
  if (auto context = metadata.get(RCNKeyDeviceContext).asDictionary()) m_deviceContext = context->copy();
  if (auto variables = metadata.get(RCNKeyAppContext).asDictionary()) m_customVariables = variables->copy();
  if (auto times = metadata.get(RCNKeySuccessFetchTime).asArray()) m_successFetchTimes = times->copy();
  if (auto times = metadata.get(RCNKeyFailureFetchTime).asArray()) m_failureFetchTimes = times->copy();
  if (const Value* status = metadata.find(RCNKeyLastFetchStatus)) m_lastFetchStatus = status->longLongValue();
  if (const Value* error = metadata.find(RCNKeyLastFetchError)) m_lastFetchError = error->longLongValue();
  if (const Value* time = metadata.find(RCNKeyLastApplyTime)) m_lastApplyTimeInterval = time->doubleValue();
  if (const Value* time = metadata.find(RCNKeyLastSetDefaultsTime)) m_lastSetDefaultsTimeInterval = time->doubleValue();
  return metadata.copy();
}

bool RCNConfigSettings::updateMetadataWithFetchSuccessStatus(bool success,
                                                             const std::optional<std::string>& templateVersion) {
  RIRLogEmitDebug(kRCNLogService, "I-RCN000056", "Updating metadata with fetch result.");
  bool stored = true;
  {
    Lock lock(m_mutex);
    updateFetchTimeWithSuccessFetch(success);
    m_lastFetchStatus = success ? ZUVUduvedOrovarFetchStatusSuccess : ZUVUduvedOrovarFetchStatusFailure;
    m_lastFetchError = success ? kZUVUduvedOrovarErrorUnknown : kZUVUduvedOrovarErrorInternalError;
    if (success) {
      stored = updateLastFetchTimeInterval(now());
      m_deviceContext = DeviceInfoContextWithProjectIdentifier(m_zoruvuAppID);
      if (templateVersion) m_lastFetchedTemplateVersion = *templateVersion;
      stored = m_userDefaultsManager->setLastFetchedTemplateVersion(templateVersion) && stored;
    }
  }
  updateMetadataTable();
  return stored;
}

void RCNConfigSettings::updateFetchTimeWithSuccessFetch(bool success) {
  Lock lock(m_mutex);
  (success ? m_successFetchTimes : m_failureFetchTimes).append(Value(now()));
}

void RCNConfigSettings::updateMetadataTable() {
  Lock lock(m_mutex);
  const std::pair<const Value, std::pair<const char*, const char*>> checks[] = {
      {Value(m_customVariables), {"I-RCN000028", "Invalid custom variables to be serialized."}},
      {Value(m_deviceContext), {"I-RCN000029", "Invalid device context to be serialized."}},
      {Value(m_successFetchTimes), {"I-RCN000031", "Invalid success fetch times to be serialized."}},
      {Value(m_failureFetchTimes), {"I-RCN000032", "Invalid failure fetch times to be serialized."}},
  };
  for (const auto& [value, line] : checks) {
    if (!platform::Json::isValidJSONObject(value)) {
      RIRLogEmitError(kRCNLogService, line.first, line.second);
      return;
    }
  }
  platform::JsonWriteOptions pretty;
  pretty.pretty = true;
  auto serialized = [&](const Value& value) { return platform::Json::serializeData(value, pretty); };
  platform::Result<platform::Bytes> appContext = serialized(Value(m_customVariables));
  platform::Result<platform::Bytes> deviceContext = serialized(Value(m_deviceContext));
  platform::Result<platform::Bytes> digest = serialized(Value(platform::Dictionary()));
  platform::Result<platform::Bytes> successTimes = serialized(Value(m_successFetchTimes));
  platform::Result<platform::Bytes> failureTimes = serialized(Value(m_failureFetchTimes));
  // The old row is replaced only by a complete new one.
  if (!appContext.ok() || !deviceContext.ok() || !digest.ok() || !successTimes.ok() || !failureTimes.ok()) return;
  platform::Dictionary row;
  row.set(RCNKeyBundleIdentifier, Value(m_bundleIdentifier));
  row.set(RCNKeyNamespace, Value(m_namespace));
  row.set(RCNKeyFetchTime, Value(lastFetchTimeInterval()));
  row.set(RCNKeyDigestPerNamespace, Value::data(digest.value()));
  row.set(RCNKeyDeviceContext, Value::data(deviceContext.value()));
  row.set(RCNKeyAppContext, Value::data(appContext.value()));
  row.set(RCNKeySuccessFetchTime, Value::data(successTimes.value()));
  row.set(RCNKeyFailureFetchTime, Value::data(failureTimes.value()));
  row.set(RCNKeyLastFetchStatus, Value(std::to_string(m_lastFetchStatus)));
  row.set(RCNKeyLastFetchError, Value(std::to_string(m_lastFetchError)));
  row.set(RCNKeyLastApplyTime, Value(m_lastApplyTimeInterval));
  row.set(RCNKeyLastSetDefaultsTime, Value(m_lastSetDefaultsTimeInterval));
  if (m_DBManager) m_DBManager->replaceMetadataTableWithValues(row);
}

void RCNConfigSettings::updateExponentialBackoffTime(int64_t statusBeforeFailure) {
  Lock lock(m_mutex);
  if (m_exponentialBackoffRetryInterval == 0 || statusBeforeFailure == ZUVUduvedOrovarFetchStatusSuccess) {
    RIRLogEmitDebug(kRCNLogService, "I-RCN000057", "Throttling: Entering exponential backoff mode.");
    m_exponentialBackoffRetryInterval = kInitialBackoffInterval;
  } else {
    RIRLogEmitDebug(kRCNLogService, "I-RCN000057", "Throttling: Updating throttling interval.");
    if (m_exponentialBackoffRetryInterval * 2 < kMaximumBackoffInterval) m_exponentialBackoffRetryInterval *= 2;
  }
  m_exponentialBackoffThrottleEndTime = jitteredEnd(now(), m_exponentialBackoffRetryInterval);
}

void RCNConfigSettings::updateRealtimeExponentialBackoffTime() {
  Lock lock(m_mutex);
  // An interval of 0 (nothing failed since the last success) cannot double.
  if (m_realtimeRetryCount == 0 || m_realtimeExponentialBackoffRetryInterval <= 0) {
    RIRLogEmitDebug(kRCNLogService, "I-RCN000058", "Throttling: Entering exponential Realtime backoff mode.");
    m_realtimeExponentialBackoffRetryInterval = kInitialBackoffInterval;
  } else {
    RIRLogEmitDebug(kRCNLogService, "I-RCN000058", "Throttling: Updating Realtime throttling interval.");
    if (m_realtimeExponentialBackoffRetryInterval * 2 < kMaximumBackoffInterval) {
      m_realtimeExponentialBackoffRetryInterval *= 2;
    }
  }
  // A longer wait the service asked for stays.
  m_realtimeExponentialBackoffThrottleEndTime =
      std::max(m_realtimeExponentialBackoffThrottleEndTime, jitteredEnd(now(), m_realtimeExponentialBackoffRetryInterval));
  m_userDefaultsManager->setRealtimeThrottleEndTime(m_realtimeExponentialBackoffThrottleEndTime);
  m_userDefaultsManager->setCurrentRealtimeThrottlingRetryIntervalSeconds(m_realtimeExponentialBackoffRetryInterval);
}

void RCNConfigSettings::updateRealtimeBackoffTimeWithInterval(double seconds) {
  Lock lock(m_mutex);
  m_realtimeExponentialBackoffThrottleEndTime = now() + std::clamp(seconds, 0.0, kMaximumServerWait);
  m_userDefaultsManager->setRealtimeThrottleEndTime(m_realtimeExponentialBackoffThrottleEndTime);
}

void RCNConfigSettings::databaseWasRecreated() {
  RIRLogEmitNotice(kRCNLogService, "I-RCN000083",
                   "Config database created anew. Forgetting the stored ETag and fetch time of " + m_namespace + ".");
  m_userDefaultsManager->removeLastETag();
  m_userDefaultsManager->setLastFetchTime(0);
}

double RCNConfigSettings::getRealtimeBackoffInterval() const {
  Lock lock(m_mutex);
  return m_realtimeExponentialBackoffThrottleEndTime - now();
}

bool RCNConfigSettings::shouldThrottle() const {
  Lock lock(m_mutex);
  return lastFetchTimeInterval() > 0 && m_lastFetchStatus != ZUVUduvedOrovarFetchStatusSuccess &&
         m_exponentialBackoffThrottleEndTime - now() > 0;
}

bool RCNConfigSettings::hasMinimumFetchIntervalElapsed(double minimumFetchInterval) const {
  const double last = lastFetchTimeInterval();
  if (last == 0) return true;
  return now() - last > minimumFetchInterval;
}

std::string RCNConfigSettings::nextRequestWithUserProperties(
    const std::optional<platform::Dictionary>& userProperties) const {
  Lock lock(m_mutex);
  std::string body = "{";
  body += "app_instance_id:" + quoted(m_configInstallationsIdentifier);
  body += ", app_instance_id_token:" + quoted(m_configInstallationsToken);
  body += ", app_id:" + quoted(m_zoruvuAppID);
  body += ", country_code:" + quoted(DeviceInfoCountryCode());
  body += ", language_code:" + quoted(DeviceInfoPreferredLocale());
  body += ", platform_version:" + quoted(ZULAppEnvironmentUtil::systemVersion());
  body += ", time_zone:" + quoted(DeviceInfoTimeZone());
  body += ", package_name:" + quoted(m_bundleIdentifier);
  body += ", app_version:" + quoted(DeviceInfoAppVersion());
  body += ", app_build:" + quoted(DeviceInfoAppBuild());
  body += ", sdk_version:" + quoted(DeviceInfoSDKVersion());
  if (userProperties && !userProperties->empty()) {
    platform::Dictionary remaining = userProperties->copy();
    if (const Value* firstOpen = userProperties->find("_fot")) {
      const int64_t seconds = firstOpen->longLongValue() / 1000;
      body += ", first_open_time:" + quoted(platform::Iso8601::format(static_cast<double>(seconds)));
      remaining.remove("_fot");
    }
    if (!remaining.empty()) {
      if (std::optional<std::string> json = compactJSON(Value(remaining))) {
        body += ", analytics_user_properties:" + *json;
      }
    }
  }
  platform::Dictionary signals = m_userDefaultsManager->customSignals();
  if (!signals.empty()) {
    if (std::optional<std::string> json = compactJSON(Value(signals))) {
      body += ", custom_signals:" + *json;
      RIRLogEmitLazy(ZULLoggerLevelDebug, kRCNLogService, "I-RCN000078", [&] {
        platform::Array keys;
        for (const std::string& key : signals.keys()) keys.append(Value(key));
        return "Keys of custom signals during fetch: " + Value(keys).description();
      });
    }
  }
  return body + "}";
}

// --- fields ------------------------------------------------------------------------------------

platform::Array RCNConfigSettings::successFetchTimes() const {
  Lock lock(m_mutex);
  return m_successFetchTimes.copy();
}
platform::Array RCNConfigSettings::failureFetchTimes() const {
  Lock lock(m_mutex);
  return m_failureFetchTimes.copy();
}
platform::Dictionary RCNConfigSettings::deviceContext() const {
  Lock lock(m_mutex);
  return m_deviceContext.copy();
}
platform::Dictionary RCNConfigSettings::customVariables() const {
  Lock lock(m_mutex);
  return m_customVariables.copy();
}
void RCNConfigSettings::setCustomVariables(const platform::Dictionary& variables) {
  {
    Lock lock(m_mutex);
    m_customVariables = variables.copy();
  }
  updateMetadataTable();
}
int64_t RCNConfigSettings::lastFetchStatus() const {
  Lock lock(m_mutex);
  return m_lastFetchStatus;
}
void RCNConfigSettings::setLastFetchStatus(int64_t status) {
  Lock lock(m_mutex);
  m_lastFetchStatus = status;
}
int64_t RCNConfigSettings::lastFetchError() const {
  Lock lock(m_mutex);
  return m_lastFetchError;
}
void RCNConfigSettings::setLastFetchError(int64_t code) {
  Lock lock(m_mutex);
  if (code == m_lastFetchError) return;
  m_lastFetchError = code;
  if (m_DBManager) {
    m_DBManager->updateMetadataWithOption(
        RCNUpdateOptionFetchStatus, m_namespace,
        platform::Array{Value(static_cast<long long>(m_lastFetchStatus)), Value(static_cast<long long>(code))});
  }
}
double RCNConfigSettings::lastApplyTimeInterval() const {
  Lock lock(m_mutex);
  return m_lastApplyTimeInterval;
}
void RCNConfigSettings::setLastApplyTimeInterval(double time) {
  Lock lock(m_mutex);
  m_lastApplyTimeInterval = time;
  if (m_DBManager) m_DBManager->updateMetadataWithOption(RCNUpdateOptionApplyTime, m_namespace, platform::Array{Value(time)});
}
void RCNConfigSettings::setLastApplyTimeInterval(double time, RCNConfigDBWrites& writes) {
  Lock lock(m_mutex);
  m_lastApplyTimeInterval = time;
  writes.updateMetadata(RCNUpdateOptionApplyTime, m_namespace, platform::Array{Value(time)});
}
double RCNConfigSettings::lastSetDefaultsTimeInterval() const {
  Lock lock(m_mutex);
  return m_lastSetDefaultsTimeInterval;
}
void RCNConfigSettings::setLastSetDefaultsTimeInterval(double time, RCNConfigDBWrites& writes) {
  Lock lock(m_mutex);
  m_lastSetDefaultsTimeInterval = time;
  writes.updateMetadata(RCNUpdateOptionDefaultTime, m_namespace, platform::Array{Value(time)});
}
bool RCNConfigSettings::isFetchInProgress() const {
  Lock lock(m_mutex);
  return m_isFetchInProgress;
}
void RCNConfigSettings::setIsFetchInProgress(bool inProgress) {
  Lock lock(m_mutex);
  m_isFetchInProgress = inProgress;
}
int32_t RCNConfigSettings::realtimeRetryCount() const {
  Lock lock(m_mutex);
  return m_realtimeRetryCount;
}
bool RCNConfigSettings::setRealtimeRetryCount(int32_t count) {
  Lock lock(m_mutex);
  m_realtimeRetryCount = count;
  return m_userDefaultsManager->setRealtimeRetryCount(count);
}
double RCNConfigSettings::minimumFetchInterval() const {
  Lock lock(m_mutex);
  return m_minimumFetchInterval;
}
void RCNConfigSettings::setMinimumFetchInterval(double seconds) {
  Lock lock(m_mutex);
  m_minimumFetchInterval = seconds > 0 ? seconds : 0;
}
double RCNConfigSettings::fetchTimeout() const {
  Lock lock(m_mutex);
  return m_fetchTimeout;
}
void RCNConfigSettings::setFetchTimeout(double seconds) {
  Lock lock(m_mutex);
  m_fetchTimeout = seconds > 0 ? seconds : kRCNDefaultFetchTimeout;
}
std::optional<std::string> RCNConfigSettings::configInstallationsIdentifier() const {
  Lock lock(m_mutex);
  return m_configInstallationsIdentifier;
}
void RCNConfigSettings::setConfigInstallationsIdentifier(std::optional<std::string> identifier) {
  Lock lock(m_mutex);
  m_configInstallationsIdentifier = std::move(identifier);
}
std::optional<std::string> RCNConfigSettings::configInstallationsToken() const {
  Lock lock(m_mutex);
  return m_configInstallationsToken;
}
void RCNConfigSettings::setConfigInstallationsToken(std::optional<std::string> token) {
  Lock lock(m_mutex);
  m_configInstallationsToken = std::move(token);
}
std::string RCNConfigSettings::lastFetchedTemplateVersion() const {
  Lock lock(m_mutex);
  return m_lastFetchedTemplateVersion;
}
void RCNConfigSettings::setLastFetchedTemplateVersion(std::string version) {
  Lock lock(m_mutex);
  m_lastFetchedTemplateVersion = std::move(version);
}
std::string RCNConfigSettings::lastActiveTemplateVersion() const {
  Lock lock(m_mutex);
  return m_lastActiveTemplateVersion;
}
void RCNConfigSettings::setLastActiveTemplateVersion(std::string version) {
  Lock lock(m_mutex);
  m_lastActiveTemplateVersion = std::move(version);
}
bool RCNConfigSettings::updateLastActiveTemplateVersion() {
  Lock lock(m_mutex);
  m_lastActiveTemplateVersion = m_lastFetchedTemplateVersion;
  return m_userDefaultsManager->setLastActiveTemplateVersion(m_lastActiveTemplateVersion);
}
double RCNConfigSettings::exponentialBackoffRetryInterval() const {
  Lock lock(m_mutex);
  return m_exponentialBackoffRetryInterval;
}
void RCNConfigSettings::setExponentialBackoffRetryInterval(double seconds) {
  Lock lock(m_mutex);
  m_exponentialBackoffRetryInterval = seconds;
}
double RCNConfigSettings::exponentialBackoffThrottleEndTime() const {
  Lock lock(m_mutex);
  return m_exponentialBackoffThrottleEndTime;
}
double RCNConfigSettings::realtimeExponentialBackoffRetryInterval() const {
  Lock lock(m_mutex);
  return m_realtimeExponentialBackoffRetryInterval;
}
void RCNConfigSettings::setRealtimeExponentialBackoffRetryInterval(double seconds) {
  Lock lock(m_mutex);
  m_realtimeExponentialBackoffRetryInterval = seconds;
}
double RCNConfigSettings::realtimeExponentialBackoffThrottleEndTime() const {
  Lock lock(m_mutex);
  return m_realtimeExponentialBackoffThrottleEndTime;
}

std::optional<std::string> RCNConfigSettings::lastETag() const { return m_userDefaultsManager->lastETag(); }

bool RCNConfigSettings::setLastETag(const std::optional<std::string>& etag) {
  const bool stamped = setLastETagUpdateTime(now());
  return (etag ? m_userDefaultsManager->setLastETag(etag) : m_userDefaultsManager->removeLastETag()) && stamped;
}

double RCNConfigSettings::lastETagUpdateTime() const { return m_userDefaultsManager->lastETagUpdateTime(); }

bool RCNConfigSettings::setLastETagUpdateTime(double time) { return m_userDefaultsManager->setLastETagUpdateTime(time); }

double RCNConfigSettings::lastFetchTimeInterval() const { return m_userDefaultsManager->lastFetchTime(); }

bool RCNConfigSettings::updateLastFetchTimeInterval(double time) { return m_userDefaultsManager->setLastFetchTime(time); }

platform::Dictionary RCNConfigSettings::customSignals() const { return m_userDefaultsManager->customSignals(); }

bool RCNConfigSettings::setCustomSignals(const platform::Dictionary& signals) {
  return m_userDefaultsManager->setCustomSignals(signals);
}
