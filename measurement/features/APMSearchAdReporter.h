// APMSearchAdReporter: reports once per installation whether the application
// was installed from a search-ad campaign. It takes an attribution token from
// the platform's ad-attribution framework (platform::AttributionTokenSource,
// found by class name; absent on this platform, so the reporter stays idle),
// posts it to the attribution service and, for an attributed install, logs
// the internal campaign event "_cmp" (origin "auto").
//
// Life: not created (10 fetches made, or an answer already recorded) ->
// idle -> scheduled (its alarm "Search Ad campaign report alarm" on the
// engine's worker queue, due 86400 s after the last look-up) -> fetching ->
// recorded or scheduled again -> cancelled (the alarm dropped for good).
// Every fetch adds one to the persisted retry count; a recorded answer (the
// persisted campaign value) ends the reporter in later runs as well.
//
// The request: POST <service>/api/v1/ (the base address through
// platform::ServiceAddress, so APP_SERVICES_URL reaches a fake), headers
// "cache-control: no-cache" and "Content-Type: text/plain", the token as the
// body, a 10 s time-out. The answer is a JSON object with "attribution",
// "campaignId", "adId" and "keywordId"; a transport error, a status other
// than 2xx, a body over kMaxAnswerBytes or one that is no JSON object, an
// empty object, or the service's test data ("1234567890" as both IDs) mean
// "try again next day".
//
// Thread safety: made, started and driven on the engine's worker queue
// (requests answer there too); the enabled switch may be set from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/app/AttributionTokenSource.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/HttpSession.h"

class APMAlarm;
class APMPersistedConfig;

class APMSearchAdReporter : public std::enable_shared_from_this<APMSearchAdReporter> {
 public:
  static constexpr const char* kAlarmName = "Search Ad campaign report alarm";
  static constexpr const char* kDefaultServiceURL = "https://ads-attribution.ririvudu.com";
  static constexpr const char* kRequestPath = "/api/v1/";
  static constexpr double kRequestTimeout = 10;
  static constexpr double kReportInterval = 86400;
  static constexpr int64_t kMaxRetryCount = 9;
  static constexpr size_t kMaxAnswerBytes = 64 * 1024;
  static constexpr const char* kTestDataID = "1234567890";

  // None (with a line) without a queue or persisted configuration; none when
  // the fetches are used up or a campaign answer is already stored.
  static std::shared_ptr<APMSearchAdReporter> initWithWorkerQueue(
      const std::optional<platform::DispatchQueue>& workerQueue, std::shared_ptr<APMPersistedConfig> persistedConfig);
  ~APMSearchAdReporter();

  // The linked ad-attribution framework, none when the class is absent.
  static std::shared_ptr<platform::AttributionTokenSource> attributionTokenSource();
  static std::string requestURL();

  void start();
  void setSearchAdReporterEnabled(bool enabled) { m_enabled.store(enabled); }
  bool isSearchAdReporterEnabled() const { return m_enabled.load(); }
  void scheduleSearchAdReport();
  void cancelScheduling();
  void maybeLogIAdCampaignEvent();
  void fetchAttributionDetails();
  void requestAttributionPayloadWithToken(const std::string& token);
  void logCampaignEventWithSearchAdCampaign(bool attributed, const std::string& campaign, const std::string& term);

  // The alarm, none once scheduling was cancelled.
  std::shared_ptr<APMAlarm> searchAdReporterAlarm() const;

 private:
  APMSearchAdReporter(platform::DispatchQueue workerQueue, std::shared_ptr<APMPersistedConfig> persistedConfig);
  void handleAttributionAnswer(const platform::HttpResult& result);
  bool hasStoredCampaign() const;

  const platform::DispatchQueue m_workerQueue;
  const std::shared_ptr<APMPersistedConfig> m_persistedConfig;
  std::atomic<bool> m_enabled{false};
  mutable std::mutex m_mutex;  // guards the alarm and the recording of a campaign
  std::shared_ptr<APMAlarm> m_alarm;
  std::shared_ptr<platform::HttpSession> m_session;  // worker queue only
};
