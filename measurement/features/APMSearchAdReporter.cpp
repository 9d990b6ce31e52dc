#include "measurement/features/APMSearchAdReporter.h"

#include <any>
#include <cmath>

#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMPersistedConfig.h"
#include "platform/net/ServiceAddress.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/Json.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

using platform::Value;

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

// The attribution answer is a small object; deeper nesting is no answer.
constexpr size_t kMaxAnswerDepth = 8;

}  // namespace

std::shared_ptr<APMSearchAdReporter> APMSearchAdReporter::initWithWorkerQueue(
    const std::optional<platform::DispatchQueue>& workerQueue, std::shared_ptr<APMPersistedConfig> persistedConfig) {
  if (!workerQueue) {
    monitor().logWithLevel(2, 32000, "Cannot init Search Ad reporter. Queue must be provided");
    return nullptr;
  }
  if (!persistedConfig) {
    monitor().logWithLevel(2, 32001, "Cannot init Search Ad reporter. Persisted config must be provided");
    return nullptr;
  }
  if (persistedConfig->searchAdRetryCount() > kMaxRetryCount) return nullptr;
  if (persistedConfig->searchAdCampaignValue()) {
    monitor().logWithLevel(7, 32002,
                           "Search Ad campaign attribution was already reported. Do not start Search Ad Reporter.");
    return nullptr;
  }
  return std::shared_ptr<APMSearchAdReporter>(new APMSearchAdReporter(*workerQueue, std::move(persistedConfig)));
}

APMSearchAdReporter::APMSearchAdReporter(platform::DispatchQueue workerQueue,
                                         std::shared_ptr<APMPersistedConfig> persistedConfig)
    : m_workerQueue(std::move(workerQueue)),
      m_persistedConfig(std::move(persistedConfig)),
      m_alarm(APMAlarm::initWithDispatchQueue(m_workerQueue, kAlarmName)) {}

APMSearchAdReporter::~APMSearchAdReporter() {
  if (m_session) m_session->invalidateAndCancel();
}

std::shared_ptr<platform::AttributionTokenSource> APMSearchAdReporter::attributionTokenSource() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  const char* name = platform::AttributionTokenSource::kClassName;
  if (!registry.exists(name) || !registry.respondsTo(name, platform::AttributionTokenSource::kSharedInstanceSelector)) {
    return nullptr;
  }
  std::any shared = registry.sendClass(name, platform::AttributionTokenSource::kSharedInstanceSelector);
  if (auto* source = std::any_cast<std::shared_ptr<platform::AttributionTokenSource>>(&shared)) return *source;
  return nullptr;
}

std::string APMSearchAdReporter::requestURL() {
  return platform::ServiceAddress::resolve(std::string(kDefaultServiceURL) + kRequestPath);
}

void APMSearchAdReporter::start() {
  if (!attributionTokenSource()) {
    monitor().logWithLevel(7, 32014, "AdServices framework is not linked. Search Ad Attribution Reporter is disabled.");
    return;
  }
  if (ZULAppEnvironmentUtil::isSimulator()) {
    monitor().logWithLevel(7, 32019, "Search Ad Attribution Reporter is disabled on the simulator");
    return;
  }
  scheduleSearchAdReport();
}

std::shared_ptr<APMAlarm> APMSearchAdReporter::searchAdReporterAlarm() const {
  std::lock_guard lock(m_mutex);
  return m_alarm;
}

bool APMSearchAdReporter::hasStoredCampaign() const { return m_persistedConfig->searchAdCampaignValue().has_value(); }

void APMSearchAdReporter::scheduleSearchAdReport() {
  std::shared_ptr<APMAlarm> alarm = searchAdReporterAlarm();
  if (!alarm) {
    monitor().logWithLevel(5, 32013, "Search Ad Campaign attribution alarm is already canceled");
    return;
  }
  if (!isSearchAdReporterEnabled()) {
    alarm->cancel();
    return;
  }
  if (hasStoredCampaign()) {
    monitor().logWithLevel(7, 32004,
                           "Search Ad report not scheduled. Search Ad campaign attribution was already reported.");
    cancelScheduling();
    return;
  }
  if (alarm->scheduledTimestamp()) {
    monitor().logWithLevel(5, 32005, "Search Ad Campaign attribution alarm is already scheduled");
    return;
  }
  if (m_persistedConfig->searchAdRetryCount() > kMaxRetryCount) {
    monitor().logWithLevel(5, 32007,
                           "Search Ad Campaign attribution exceeds the max number of retries. Do not schedule again.");
    cancelScheduling();
    return;
  }
  monitor().logWithLevel(7, 32006, "Scheduling Search Ad Report timer");
  const double now = platform::Clock::current()->now();
  const double delay = kReportInterval - std::fabs(now - m_persistedConfig->lastSearchAdLookUpTimestamp());
  std::weak_ptr<APMSearchAdReporter> weak = weak_from_this();
  alarm->runAfterDelay(delay, [weak] {
    if (std::shared_ptr<APMSearchAdReporter> reporter = weak.lock()) reporter->maybeLogIAdCampaignEvent();
  });
}

void APMSearchAdReporter::cancelScheduling() {
  std::shared_ptr<APMAlarm> alarm;
  {
    std::lock_guard lock(m_mutex);
    alarm = std::move(m_alarm);
    m_alarm = nullptr;
  }
  if (alarm) alarm->cancel();
}

void APMSearchAdReporter::maybeLogIAdCampaignEvent() {
  if (!attributionTokenSource()) return;
  m_persistedConfig->setLastSearchAdLookUpTimestamp(platform::Clock::current()->now());
  fetchAttributionDetails();
  scheduleSearchAdReport();
}

void APMSearchAdReporter::fetchAttributionDetails() {
  m_persistedConfig->setSearchAdRetryCount(m_persistedConfig->searchAdRetryCount() + 1);
  std::shared_ptr<platform::AttributionTokenSource> source = attributionTokenSource();
  if (!source) return;
  platform::Result<std::string> token = source->attributionToken();
  if (!token) {
    monitor().logWithLevel(1, 32018, "Cannot send request for Search Ad campaign attribution. Error", token.error());
    return;
  }
  if (!token.value().empty()) requestAttributionPayloadWithToken(token.value());
}

void APMSearchAdReporter::requestAttributionPayloadWithToken(const std::string& token) {
  if (!m_session) {
    platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
    configuration.delegateQueue = m_workerQueue;
    m_session = platform::HttpSession::create(configuration);
  }
  platform::HttpRequest request(requestURL(), "POST");
  request.setValue("no-cache", "cache-control");
  request.setValue("text/plain", "Content-Type");
  request.setBody(std::string_view(token));
  request.setTimeoutInterval(kRequestTimeout);
  std::weak_ptr<APMSearchAdReporter> weak = weak_from_this();
  m_session
      ->dataTask(std::move(request),
                 [weak](platform::HttpResult result) {
                   if (std::shared_ptr<APMSearchAdReporter> reporter = weak.lock()) {
                     reporter->handleAttributionAnswer(result);
                   }
                 })
      ->resume();
}

void APMSearchAdReporter::handleAttributionAnswer(const platform::HttpResult& result) {
  std::optional<platform::Error> failure = result.error;
  const int status = result.statusCode();
  if (!failure && (status < 200 || status > 299)) {
    failure = apm_errorWithCode(status, "The attribution service answered with HTTP status " + std::to_string(status));
  }
  if (failure) {
    monitor().logWithLevel(1, 32015, "Cannot send request for Search Ad campaign attribution. Error", *failure);
    scheduleSearchAdReport();
    return;
  }
  std::optional<platform::Dictionary> answer;
  if (result.body.size() <= kMaxAnswerBytes) {
    platform::JsonReadOptions options;
    options.maxDepth = kMaxAnswerDepth;
    platform::Result<Value> parsed = platform::Json::parse(result.body, options);
    if (parsed) answer = parsed.value().asDictionary();
  }
  if (!answer) {
    monitor().logWithLevel(1, 32017, "Search Ad Reporter failed to parse JSON data. Error",
                           Value("the answer is no JSON object of at most " + std::to_string(kMaxAnswerBytes) +
                                 " bytes"));
    scheduleSearchAdReport();
    return;
  }
  if (answer->empty()) {
    scheduleSearchAdReport();
    return;
  }
  const std::string campaignID = answer->get("campaignId").stringValue();
  const std::string adID = answer->get("adId").stringValue();
  if (adID == kTestDataID && campaignID == kTestDataID) {
    monitor().logWithLevel(7, 32016, "Search Ad Reporter returned test data. Will retry next time.");
    scheduleSearchAdReport();
    return;
  }
  logCampaignEventWithSearchAdCampaign(answer->get("attribution").boolValue(), campaignID,
                                       answer->get("keywordId").stringValue());
  cancelScheduling();
}

void APMSearchAdReporter::logCampaignEventWithSearchAdCampaign(bool attributed, const std::string& campaign,
                                                               const std::string& term) {
  platform::Dictionary parameters;
  {
    // Checking and storing the answer is one step: it is recorded once.
    std::lock_guard lock(m_mutex);
    if (hasStoredCampaign()) {
      monitor().logWithLevel(5, 32008, "Search Ad Campaign is already tracked");
      return;
    }
    m_persistedConfig->setSearchAdCampaignValue(Value(attributed));
  }
  if (!attributed) return;
  parameters.set("source", "Apple");
  parameters.set("medium", "search");
  if (!campaign.empty()) parameters.set("campaign", campaign);
  if (!term.empty()) parameters.set("term", term);
  const int64_t firstOpenMilliseconds = m_persistedConfig->firstOpenTimestampMilliseconds();
  if (firstOpenMilliseconds >= 2) {
    parameters.set("click_timestamp", firstOpenMilliseconds - 1);
  } else {
    monitor().logWithLevel(5, 32009, "Search Ad Campaign does not have click_timestamp.");
  }
  APMEngineServices::logInternalEvent("auto", "_cmp", parameters);
}
