// Search-ads attribution and the lifetime value of purchases as steps of the
// engine, and on-device conversion measurement by its first protocol: user
// data (or the cached hashed input at a session start) goes to an outside
// private-set-membership client, whose payload is posted with back-off; a
// match becomes "_psmvalue" with a real-time "_fx"; a group ID is queried at
// most once a day; stored values age out after 90 days. Without a linked
// client class every query is refused (23233).
#include <algorithm>
#include <any>
#include <cmath>
#include <string>

#include "measurement/base/APMAEU.h"
#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/engine/APMGroupContext.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMPSMContext.h"
#include "measurement/engine/APMPrivateSetMembershipClient.h"
#include "measurement/engine/ODCPrivateSetMembershipGroupClient.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/APMLifetimeValueRecorder.h"
#include "measurement/features/APMSearchAdReporter.h"
#include "platform/app/Application.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/time/Clock.h"

using platform::Bytes;
using platform::Dictionary;
using platform::Value;
using Client = APMPrivateSetMembershipClient;

namespace {

constexpr double kODMValueLifetime = 7776000;  // 90 days
constexpr const char* kDebugArgument = "-DebugOnDeviceConversionMeasurement";

struct InputKind {
  const char* counter;
  const char* queryKey;
};

InputKind inputKind(int64_t inputType) {
  switch (inputType) {
    case Client::kPhoneNumber: return {"_psmcountph", "psm_phone_count"};
    case Client::kHashedEmailAddress: return {"_psmcounth", "psm_count"};
    case Client::kHashedPhoneNumber: return {"_psmcounthph", "psm_phone_count"};
    default: return {"_psmcount", "psm_count"};
  }
}

platform::ClassRegistry& registry() { return platform::ClassRegistry::shared(); }

bool responds(const platform::Object& object, const char* selector) { return registry().respondsTo(object, selector); }

bool instancesRespond(const std::optional<std::string>& className, const char* selector) {
  return className && registry().instancesRespondTo(*className, selector);
}

// An instance of the class made with the initialiser, when its instances
// answer it; none otherwise or when the initialiser refuses.
template <class T>
std::shared_ptr<T> makeWith(const std::optional<std::string>& className, const char* initialiser,
                            const platform::Arguments& arguments) {
  if (!instancesRespond(className, initialiser)) return nullptr;
  std::shared_ptr<platform::Object> object = registry().make(*className);
  if (!object) return nullptr;
  std::any made = registry().send(*object, initialiser, arguments);
  if (auto* typed = std::any_cast<std::shared_ptr<T>>(&made)) return *typed;
  return nullptr;
}

int64_t inputTypeOf(const Client& client) { return responds(client, Client::kInputType) ? client.inputType() : 0; }

// Whole seconds rounded down to a minute, plus one minute.
int64_t nextMinute(int64_t seconds) {
  const int64_t minute = seconds >= 0 ? seconds / 60 : (seconds - 59) / 60;
  return minute * 60 + 60;
}

std::string textOf(const Value& value) { return value.isString() ? *value.asString() : std::string(); }

Bytes bytesOf(const Value& value) {
  if (const Bytes* data = value.asData()) return *data;
  if (const std::string* text = value.asString()) return Bytes(text->begin(), text->end());
  return {};
}

}  // namespace

// --- search ads and lifetime value --------------------------------------------------------------

void APMMeasurement::startSearchAdReporterOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("startSearchAdReporterOnWorkerQueue");
  m_searchAdReporter = APMSearchAdReporter::initWithWorkerQueue(m_scheduler->workerQueue(), m_persistedConfig);
  if (!m_searchAdReporter) return;
  m_searchAdReporter->setSearchAdReporterEnabled(true);
  m_searchAdReporter->start();
}

void APMMeasurement::setSearchAdReportingEnabled(bool enabled) {
  if (m_searchAdReporter) m_searchAdReporter->setSearchAdReporterEnabled(enabled);
}

bool APMMeasurement::recordLifetimeValueOnWorkerQueue(const APMEvent& event) {
  std::shared_ptr<APMDatabase> db = database();
  return db && APMLifetimeValueRecorder::recordLifetimeValueToDatabase(*db, event);
}

// --- linked clients ----------------------------------------------------------------------------

std::optional<std::string> APMMeasurement::PSMClientClass() {
  for (const char* name : {Client::kClassName, Client::kAlternateClassName}) {
    if (registry().exists(name)) return std::string(name);
  }
  return std::nullopt;
}

bool APMMeasurement::isAPMPrivateSetMembershipClientLinked() { return registry().exists(Client::kClassName); }

std::optional<std::string> APMMeasurement::PSMGroupClientClass() {
  if (!registry().exists(ODCPrivateSetMembershipGroupClient::kClassName)) return std::nullopt;
  return std::string(ODCPrivateSetMembershipGroupClient::kClassName);
}

int32_t APMMeasurement::linkedOnDeviceConversionClientBits() {
  int32_t bits = 0;
  if (PSMClientClass()) bits |= 1 << 1;
  if (isAlphaAppAdsOnDeviceConversionLinked()) bits |= 1 << 2;
  if (isZoruvuAdsOnDeviceConversionLinked()) bits |= 1 << 3;
  return bits;
}

void APMMeasurement::checkPSMDependencyOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("checkPSMDependencyOnWorkerQueue");
  if (PSMClientClass()) {
    m_PSMContext = std::make_shared<APMPSMContext>();
    monitor()->logWithLevel(7, 23253, "On-device conversion measurement is ready to initiate");
    return;
  }
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  for (const char* counter : {"_psmcount", "_psmcountph"}) {
    if (db->containsUserAttributeWithName(counter, nullptr).value_or(Value(false)).boolValue()) {
      monitor()->logWithLevel(4, 23254,
                              "On-device conversion measurement dependency is not currently linked. On-device "
                              "conversion measurement will fail to initiate.");
      return;
    }
  }
}

// --- gates -----------------------------------------------------------------------------------

bool APMMeasurement::shouldAllowODMFeature() {
  if (APMConsentSettingsUtil::isAdStorageDenied()) return false;
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  return settings && settings->adsOnDeviceConversionFeatureEnabled();
}

bool APMMeasurement::ODM1ValueExists() {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return false;
  if (db->ODMValueWithName("odm1_value", nullptr)) return true;
  return db->containsUserAttributeWithName("_psmvalue", nullptr).value_or(Value(false)).boolValue();
}

bool APMMeasurement::shouldRetrievePSMResponse() {
  std::shared_ptr<APMMonitor> log = monitor();
  auto refuse = [&log](int64_t code, const char* reason) {
    log->logWithLevel(1, code, std::string("Failed to initiate on-device conversion measurement. ") + reason);
    return false;
  };
  if (!PSMClientClass()) return refuse(23233, "On-device conversion measurement dependency not linked in");
  if (APMConsentSettingsUtil::isAdStorageDenied()) return refuse(23298, "Ad storage consent is denied.");
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings || !settings->adsOnDeviceConversionFeatureEnabled()) {
    return refuse(23299, "Ads account not linked to Zoruvu Analytics.");
  }
  const int64_t firstOpenMilliseconds = m_persistedConfig->firstOpenTimestampMilliseconds();
  const double firstOpen = firstOpenMilliseconds != 0 ? firstOpenMilliseconds / 1000.0 : m_initTimestamp;
  if (std::fabs(platform::Clock::current()->now() - firstOpen) > settings->maxSignInDelayInDays() * 86400.0) {
    return refuse(23261, "Attempted to initiate outside the first open window.");
  }
  const std::shared_ptr<APMPSMContext>& context = m_PSMContext;
  if (context && context->isPSMRequestInProgress) {
    return refuse(23235, "Request to query data set for on-device conversion measurement already in progress.");
  }
  if (context && context->PSMStartCount >= settings->maxPSMStartCount()) {
    return refuse(23236, "Exceeded limit per app run.");
  }
  if (ODM1ValueExists()) return refuse(23237, "Found existing match.");
  if (context && context->PSMRetryCount >= settings->maxPSMRetryCount()) {
    return refuse(23238, "Exceeded retry limit.");
  }
  return true;
}

bool APMMeasurement::shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress) {
  if (emailAddress.empty()) {
    monitor()->logWithLevel(1, 23234, "Failed to initiate on-device conversion measurement. Email address was empty.");
    return false;
  }
  return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber) {
  if (phoneNumber.empty()) {
    monitor()->logWithLevel(1, 23239, "Failed to initiate on-device conversion measurement. Phone number was empty.");
    return false;
  }
  if (!instancesRespond(PSMClientClass(), Client::kInitWithPhoneNumber)) {
    monitor()->logWithLevel(1, 23262,
                            "Failed to initiate on-device conversion measurement. Linked on-device conversion "
                            "measurement dependency does not support phone numbers.");
    return false;
  }
  return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithHashedIdentifier(const Bytes& hashedIdentifier) {
  if (hashedIdentifier.empty()) {
    monitor()->logWithLevel(1, 23264, "Failed to initiate on-device conversion measurement. Hashed identifier was empty.");
    return false;
  }
  const std::optional<std::string> className = PSMClientClass();
  if (!instancesRespond(className, Client::kInitWithHashedEmailAddressPrefix) &&
      !instancesRespond(className, Client::kInitWithHashedPhoneNumberPrefix)) {
    monitor()->logWithLevel(1, 23265,
                            "Failed to initiate on-device conversion measurement. Linked on-device conversion "
                            "measurement dependency does not support hashed identifiers.");
    return false;
  }
  return shouldRetrievePSMResponse();
}

// --- clients ----------------------------------------------------------------------------------

std::shared_ptr<Client> APMMeasurement::PSMClientWithEmailAddress(const std::string& emailAddress) {
  const std::optional<std::string> className = PSMClientClass();
  const std::string appID = identity() ? identity()->appID() : std::string();
  if (instancesRespond(className, Client::kInitWithEmailAddressPrefix)) {
    const auto prefix = static_cast<uint32_t>(remoteConfigInstance()->hashPrefixBitLengthEmail());
    return makeWith<Client>(className, Client::kInitWithEmailAddressPrefix, {emailAddress, appID, prefix});
  }
  return makeWith<Client>(className, Client::kInitWithEmailAddress, {emailAddress, appID});
}

std::shared_ptr<Client> APMMeasurement::PSMClientWithPhoneNumber(const std::string& phoneNumber) {
  const std::optional<std::string> className = PSMClientClass();
  const std::string appID = identity() ? identity()->appID() : std::string();
  if (instancesRespond(className, Client::kInitWithPhoneNumberPrefix)) {
    const auto prefix = static_cast<uint32_t>(remoteConfigInstance()->hashPrefixBitLengthPhone());
    return makeWith<Client>(className, Client::kInitWithPhoneNumberPrefix, {phoneNumber, appID, prefix});
  }
  return makeWith<Client>(className, Client::kInitWithPhoneNumber, {phoneNumber, appID});
}

std::shared_ptr<Client> APMMeasurement::PSMClientWithHashedEmailAddress(const Bytes& hashed) {
  const auto prefix = static_cast<uint32_t>(remoteConfigInstance()->hashPrefixBitLengthEmail());
  const std::string appID = identity() ? identity()->appID() : std::string();
  return makeWith<Client>(PSMClientClass(), Client::kInitWithHashedEmailAddressPrefix, {hashed, appID, prefix});
}

std::shared_ptr<Client> APMMeasurement::PSMClientWithHashedPhoneNumber(const Bytes& hashed) {
  const auto prefix = static_cast<uint32_t>(remoteConfigInstance()->hashPrefixBitLengthPhone());
  const std::string appID = identity() ? identity()->appID() : std::string();
  return makeWith<Client>(PSMClientClass(), Client::kInitWithHashedPhoneNumberPrefix, {hashed, appID, prefix});
}

std::shared_ptr<Client> APMMeasurement::PSMClientWithCachedInputs() {
  const Bytes input = bytesOf(m_persistedConfig->PSMHashedInputData().value_or(Value()));
  const int64_t type = m_persistedConfig->PSMInputType();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  uint32_t prefix = 0;
  if (type == Client::kEmailAddress || type == Client::kHashedEmailAddress) {
    prefix = static_cast<uint32_t>(settings->PSMSessionStartHashPrefixBitLengthEmail());
  } else if (type == Client::kPhoneNumber || type == Client::kHashedPhoneNumber) {
    prefix = static_cast<uint32_t>(settings->PSMSessionStartHashPrefixBitLengthPhone());
  }
  const std::string appID = identity() ? identity()->appID() : std::string();
  return makeWith<Client>(PSMClientClass(), Client::kInitWithHashedInput, {input, type, appID, prefix});
}

void APMMeasurement::cachePSMInputsFromClient(const std::shared_ptr<Client>& client) {
  const bool hasInput = client && responds(*client, Client::kHashedInput);
  m_persistedConfig->setPSMHashedInputData(hasInput ? Value::data(client->hashedInput()) : Value());
  m_persistedConfig->setPSMInputType(client ? inputTypeOf(*client) : 0);
  m_persistedConfig->setPSMCurrentDay(Value());
}

void APMMeasurement::clearCachedPSMInputs() {
  m_persistedConfig->setPSMHashedInputData(Value());
  m_persistedConfig->setPSMInputType(0);
  m_persistedConfig->setPSMCurrentDay(Value());
}

// --- user data and session starts --------------------------------------------------------------

void APMMeasurement::initiateODM1ProtocolWithUserData(const Dictionary& userData) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("initiateODM1ProtocolWithUserData:");
  // The first form whose checks pass is queried; the others are neither used
  // nor cached.
  std::shared_ptr<Client> chosen;
  auto cacheOrClear = [this](const std::shared_ptr<Client>& client, bool hasInput) {
    if (hasInput) {
      cachePSMInputsFromClient(client);
    } else {
      clearCachedPSMInputs();
    }
  };
  if (const Value* email = userData.find("email_address")) {
    const std::string address = textOf(*email);
    std::shared_ptr<Client> client = PSMClientWithEmailAddress(address);
    cacheOrClear(client, !address.empty());
    if (shouldRetrievePSMResponseWithEmailAddress(address)) {
      chosen = client;
    } else if (ODM1ValueExists()) {
      initiateODMGroupIDProtocol();
    }
  }
  if (!chosen) {
    if (const Value* phone = userData.find("phone_number")) {
      const std::string number = textOf(*phone);
      std::shared_ptr<Client> client = PSMClientWithPhoneNumber(number);
      cacheOrClear(client, !number.empty());
      if (shouldRetrievePSMResponseWithPhoneNumber(number)) chosen = client;
    }
  }
  if (!chosen) {
    if (const Value* hashedEmail = userData.find("hashed_email_address")) {
      const Bytes hashed = bytesOf(*hashedEmail);
      std::shared_ptr<Client> client = PSMClientWithHashedEmailAddress(hashed);
      cacheOrClear(client, !hashed.empty());
      if (shouldRetrievePSMResponseWithHashedIdentifier(hashed)) {
        chosen = client;
      } else if (ODM1ValueExists()) {
        initiateODMGroupIDProtocol();
      }
    }
  }
  if (!chosen) {
    if (const Value* hashedPhone = userData.find("hashed_phone_number")) {
      const Bytes hashed = bytesOf(*hashedPhone);
      std::shared_ptr<Client> client = PSMClientWithHashedPhoneNumber(hashed);
      cacheOrClear(client, !hashed.empty());
      if (shouldRetrievePSMResponseWithHashedIdentifier(hashed)) chosen = client;
    }
  }
  const std::shared_ptr<APMPSMContext> context = m_PSMContext;
  if (!context || !chosen) return;
  context->PSMClient = chosen;
  monitor()->logWithLevel(7, 23225, "Initiated on-device conversion measurement");
  context->PSMRetryCount = 0;
  context->PSMStartCount += 1;
  context->sessionStartTimestamp = 0;
  retrievePSMResponse(context);
}

void APMMeasurement::initiateODMSessionStartProtocolWithTimestamp(double timestamp) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("initiateODMSessionStartProtocolWithTimestamp:");
  if (!shouldAllowODMFeature()) return;
  if (!instancesRespond(PSMClientClass(), Client::kInitWithHashedInput)) {
    monitor()->logWithLevel(1, 23283,
                            "Failed to initiate on-device conversion measurement for re-engagement campaign. Linked "
                            "on-device conversion measurement dependency does not support re-engagement campaigns.");
    return;
  }
  if (bytesOf(m_persistedConfig->PSMHashedInputData().value_or(Value())).empty() ||
      m_persistedConfig->PSMInputType() == 0) {
    monitor()->logWithLevel(4, 23284,
                            "Failed to initiate on-device conversion measurement for re-engagement campaign. Cached "
                            "first party data not found.");
    return;
  }
  if (!m_PSMContext) m_PSMContext = std::make_shared<APMPSMContext>();
  const std::shared_ptr<APMPSMContext> context = m_PSMContext;
  context->PSMClient = PSMClientWithCachedInputs();
  if (!context->PSMClient) return;
  monitor()->logWithLevel(7, 23285, "Initiated on-device conversion measurement for re-engagement campaign");
  context->PSMRetryCount = 0;
  context->PSMStartCount += 1;
  context->sessionStartTimestamp = timestamp;
  retrievePSMResponse(context);
}

// --- the query ---------------------------------------------------------------------------------

std::optional<std::string> APMMeasurement::PSMRequestURL(const APMPSMContext& context) {
  const std::shared_ptr<Client>& client = context.PSMClient;
  if (!client || !responds(*client, Client::kPSMRequestURLWithRetryCount)) return std::nullopt;
  std::optional<std::string> base = client->PSMRequestURLWithRetryCount(context.PSMRetryCount);
  if (!base || base->empty()) return std::nullopt;
  std::string url = *base;
  auto append = [&url](const std::string& key, const std::string& value) {
    if (!key.empty() && !value.empty()) url += "&" + key + "=" + value;
  };
  const InputKind kind = inputKind(inputTypeOf(*client));
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMUserAttribute> counter = db ? db->userAttributeWithName(kind.counter, nullptr) : nullptr;
  append(kind.queryKey, std::to_string(counter && counter->value() ? counter->value()->int64Value() : 0));

  const bool sessionStart = context.sessionStartTimestamp > 0;
  const int64_t firstOpenMilliseconds = m_persistedConfig->firstOpenTimestampMilliseconds();
  if (firstOpenMilliseconds != 0 && !sessionStart) {
    const int64_t seconds = firstOpenMilliseconds >= 0 ? firstOpenMilliseconds / 1000 : (firstOpenMilliseconds - 999) / 1000;
    append("timestamp_first_open", std::to_string(nextMinute(seconds)));
  }
  std::shared_ptr<APMMonitor> log = monitor();
  if ((log->isDebugModeEnabled() || log->isVerboseLoggingEnabled()) && !APMAEU::isFAS() &&
      responds(*client, Client::kDebugKey) && platform::Application::shared()->hasLaunchArgument(kDebugArgument)) {
    append("debug_psm_key", client->debugKey().value_or(""));
  }
  if (sessionStart && db) {
    std::shared_ptr<APMUserAttribute> sessionID = db->userAttributeWithName("_sid", nullptr);
    if (sessionID && sessionID->value()) append("tss", std::to_string(nextMinute(sessionID->value()->int64Value())));
  }
  return url;
}

void APMMeasurement::retrievePSMResponse(const std::shared_ptr<APMPSMContext>& context) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("retrievePSMResponse:");
  if (!context) return;
  const std::shared_ptr<Client> client = context->PSMClient;
  const Bytes payload =
      client && responds(*client, Client::kPayloadWithPSMRequest) ? client->payloadWithPSMRequest() : Bytes();
  if (payload.empty()) {
    monitor()->logWithLevel(1, 23293, "Payload to query data set for on-device conversion measurement is invalid");
    return;
  }
  const std::optional<std::string> url = PSMRequestURL(*context);
  if (!url) {
    monitor()->logWithLevel(1, 23227, "URL to query data set for on-device conversion measurement is invalid");
    return;
  }
  if (!context->network) context->network = ZULNetwork::init();
  if (context->network->hasUploadInProgress()) {
    monitor()->logWithLevel(7, 23232,
                            "Network operation is pending. Request to query data set for on-device conversion "
                            "measurement postponed.");
    context->isPSMRequestPostponed = true;
    return;
  }
  const std::string counterName = inputKind(inputTypeOf(*client)).counter;
  if (context->PSMRetryAlarm) context->PSMRetryAlarm->cancel();
  context->isPSMRequestPostponed = false;
  context->isPSMRequestInProgress = true;
  setIsNetworkRequestPending(true);
  m_network->setTimeoutInterval(remoteConfigInstance()->networkTimeout());

  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  auto answer = [weak, context, counterName](std::optional<platform::HttpResponse> response,
                                             std::optional<Bytes> data, std::optional<platform::Error> error) {
    if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
      engine->handlePSMAnswer(context, counterName, response, data, error);
    }
  };
  // Background sessions do not exist on this platform.
  context->network->postURL(*url, payload, platform::DispatchQueue(m_scheduler->workerQueue()), false,
                            std::move(answer));
}

void APMMeasurement::handlePSMAnswer(const std::shared_ptr<APMPSMContext>& context, const std::string& counterName,
                                     const std::optional<platform::HttpResponse>& response,
                                     const std::optional<Bytes>& data, const std::optional<platform::Error>& error) {
  setIsNetworkRequestPending(false);
  if (context == m_PSMContext) incrementPSMCountOnWorkerQueueWithName(counterName);
  const int status = response ? response->statusCode() : 0;
  // Only a 2xx answer has a body to read; a 304 is no answer to a query.
  if (error || (status != 200 && status != 204)) {
    monitor()->logWithLevel(1, 23228,
                            "Failed to query data set for on-device conversion measurement. Will retry later. Code, "
                            "error",
                            static_cast<long long>(status), error ? APMLogContext(*error) : APMLogContext());
    context->isPSMRequestInProgress = false;
    maybeSchedulePSMRetry(context);
    updateSchedule();
    return;
  }
  const std::shared_ptr<Client> client = context->PSMClient;
  std::optional<std::string> value;
  if (client && responds(*client, Client::kParsedPSMValueFromResponse)) {
    value = client->parsedPSMValueFromResponse(data.value_or(Bytes()));
  }
  if (value && !value->empty()) {
    monitor()->logWithLevel(7, 23229, "On-device conversion measurement found a match");
    handlePSMValueOnWorkerQueue(*value, context->sessionStartTimestamp > 0);
  } else {
    monitor()->logWithLevel(7, 23230,
                            "On-device conversion measurement did not find a match. Will try again given new user "
                            "data.");
  }
  context->isPSMRequestInProgress = false;
  context->PSMClient = nullptr;
  updateSchedule();
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (settings && settings->PSMGroupIDEnabled()) initiateODMGroupIDProtocol();
}

void APMMeasurement::maybeSchedulePSMRetry(const std::shared_ptr<APMPSMContext>& context) {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  const double delay = settings->PSMRetryInterval() * std::ldexp(1.0, std::clamp(context->PSMRetryCount, 0, 62));
  context->PSMRetryCount += 1;
  if (context->PSMRetryCount >= settings->maxPSMRetryCount()) {
    monitor()->logWithLevel(4, 23231, "On-device conversion measurement failed to find a match. Reached retry limit.");
    return;
  }
  if (!context->PSMRetryAlarm) {
    context->PSMRetryAlarm = APMAlarm::initWithDispatchQueue(m_scheduler->workerQueue(), APMPSMContext::kRetryAlarmName);
  }
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  std::weak_ptr<APMPSMContext> weakContext = context;
  context->PSMRetryAlarm->runAfterDelay(delay, [weak, weakContext] {
    std::shared_ptr<APMMeasurement> engine = weak.lock();
    std::shared_ptr<APMPSMContext> retried = weakContext.lock();
    if (engine && retried) engine->retrievePSMResponse(retried);
  });
}

// --- results -----------------------------------------------------------------------------------

bool APMMeasurement::setInternalUserPropertyOnWorkerQueue(const std::string& name, APMValuePtr value) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMUserAttribute> property =
      APMUserAttribute::initWithOrigin("auto", name, std::move(value), platform::Clock::current()->now());
  return db && property && db->updateUserAttribute(property.get(), nullptr);
}

void APMMeasurement::writeOnDeviceConversionEventOnWorkerQueue(const std::string& source) {
  std::shared_ptr<APMEvent> event =
      APMEvent::initWithOrigin("auto", false, "_fx", platform::Clock::current()->now(), 0,
                               paramsWithAddedFirstOpenConsentedEventParams(Dictionary{{"_fxs", source}}));
  if (!event) return;
  event->setRealtime(true);
  writeEventOnWorkerQueue(event);
}

void APMMeasurement::handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue) {
  std::shared_ptr<APMDatabase> db = database();
  if (value.empty() || !db) return;
  const double now = platform::Clock::current()->now();
  platform::Error error;
  if (isSessionValue) {
    std::optional<APMDatabase::Record> stored = db->ODMValueWithName("odm1_session_value", nullptr);
    if (stored && stored->get("value").stringValue() == value) return;
    if (!db->updateODMValue(value, "odm1_session_value", now, &error)) {
      monitor()->logWithLevel(1, 23297, "Failed to update ODM session value. Error", error);
    }
    return;
  }
  if (!db->updateODMValue(value, "odm1_value", now, &error)) {
    monitor()->logWithLevel(1, 23286, "Failed to update ODM value. Error", error);
  }
  setInternalUserPropertyOnWorkerQueue("_psmvalue", APMValue::initWithString(Value(value)));
  writeOnDeviceConversionEventOnWorkerQueue("psm");
}

void APMMeasurement::incrementPSMCountOnWorkerQueueWithName(const std::string& name) {
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  std::shared_ptr<APMUserAttribute> counter = db->userAttributeWithName(name, nullptr);
  int64_t count = counter && counter->value() ? counter->value()->int64Value() : 0;
  if (count < std::numeric_limits<int64_t>::max()) ++count;
  setInternalUserPropertyOnWorkerQueue(name, APMValue::initWithInt64(count));
}

// --- group ID ----------------------------------------------------------------------------------

void APMMeasurement::initiateODMGroupIDProtocol() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("initiateODMGroupIDProtocol");
  const std::string failed =
      "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. ";
  if (APMConsentSettingsUtil::isAdStorageDenied()) {
    monitor()->logWithLevel(4, 23307, failed + "Ad storage consent is denied.");
    return;
  }
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings || !settings->adsOnDeviceConversionFeatureEnabled()) {
    monitor()->logWithLevel(4, 23308, failed + "Ads account not linked to Zoruvu Analytics.");
    return;
  }
  const std::optional<std::string> groupClass = PSMGroupClientClass();
  if (!instancesRespond(groupClass, ODCPrivateSetMembershipGroupClient::kInitWithHashedInput)) {
    monitor()->logWithLevel(1, 23309,
                            failed + "Linked on-device conversion measurement dependency does not support this feature.");
    return;
  }
  const Bytes input = bytesOf(m_persistedConfig->PSMHashedInputData().value_or(Value()));
  const int64_t type = m_persistedConfig->PSMInputType();
  if (input.empty() || type == 0) {
    monitor()->logWithLevel(5, 23310, failed + "Cached first-party data not found.");
    return;
  }
  if (type == Client::kPhoneNumber || type == Client::kHashedPhoneNumber) {
    monitor()->logWithLevel(5, 23311, failed + "Phone numbers not supported.");
    return;
  }
  const double now = platform::Clock::current()->now();
  const int64_t today = static_cast<int64_t>(std::floor((now - m_persistedConfig->midnightOffset()) / 86400));
  std::optional<Value> currentDay = m_persistedConfig->PSMCurrentDay();
  if (currentDay && currentDay->isNumber() && currentDay->longLongValue() == today) {
    monitor()->logWithLevel(5, 23312, failed + "Reached daily cap.");
    return;
  }
  m_persistedConfig->setPSMCurrentDay(Value());
  if (!m_groupContext) m_groupContext = std::make_shared<APMGroupContext>();
  const std::shared_ptr<APMGroupContext> group = m_groupContext;
  if (!group->network) group->network = ZULNetwork::init();
  const std::string appID = identity() ? identity()->appID() : std::string();
  group->ODCGroupClient = makeWith<ODCPrivateSetMembershipGroupClient>(
      groupClass, ODCPrivateSetMembershipGroupClient::kInitWithHashedInput,
      {input, type, appID, static_cast<uint32_t>(settings->PSMGroupIDHashPrefixBitLengthEmail())});
  std::shared_ptr<ODCPrivateSetMembershipGroupClient> client = group->ODCGroupClient;
  if (!client || !responds(*client, ODCPrivateSetMembershipGroupClient::kFetchGroupIDWithNetwork)) return;
  group->isPSMRequestInProgress = true;
  // The answer comes on any thread: it is handled on the worker queue.
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  std::shared_ptr<APMScheduler> scheduler = m_scheduler;
  client->fetchGroupIDWithNetwork(group->network, [weak, scheduler, group, today](
                                                      const std::optional<std::string>& groupID,
                                                      const std::optional<platform::Error>& error) {
    scheduler->scheduleOnWorkerQueueBlockID("APMMeasurement:610", [weak, group, today, groupID, error] {
      std::shared_ptr<APMMeasurement> engine = weak.lock();
      if (!engine) return;
      group->isPSMRequestInProgress = false;
      if (error) {
        monitor()->logWithLevel(1, 23313,
                                "Failed to query aggregate first-party data set for on-device conversion measurement. "
                                "Will retry later. Error",
                                *error);
        return;
      }
      engine->m_persistedConfig->setPSMCurrentDay(Value(static_cast<long long>(today)));
      group->ODCGroupClient = nullptr;
      if (groupID && !groupID->empty()) {
        monitor()->logWithLevel(7, 23315, "On-device conversion measurement for aggregate first-party data found a match");
        engine->handleODMGroupIDOnWorkerQueue(*groupID);
      } else {
        monitor()->logWithLevel(7, 23314,
                                "On-device conversion measurement for aggregate first-party data did not find a match");
      }
    });
  });
}

void APMMeasurement::handleODMGroupIDOnWorkerQueue(const std::string& groupID) {
  std::shared_ptr<APMDatabase> db = database();
  if (groupID.empty() || !db) return;
  std::optional<APMDatabase::Record> stored = db->ODMValueWithName("odm1_group_id", nullptr);
  if (stored && stored->get("value").stringValue() == groupID) return;
  platform::Error error;
  if (!db->updateODMValue(groupID, "odm1_group_id", platform::Clock::current()->now(), &error)) {
    monitor()->logWithLevel(2, 23300, "Failed to update ODM group ID. Error", error);
  }
}

// --- expiry ------------------------------------------------------------------------------------

bool APMMeasurement::isExpiredODMValueWithName(const std::string& name) {
  std::shared_ptr<APMDatabase> db = database();
  std::optional<APMDatabase::Record> stored = db ? db->ODMValueWithName(name, nullptr) : std::nullopt;
  if (!stored) return false;
  return std::fabs(platform::Clock::current()->now() - stored->get("set_timestamp").doubleValue()) >= kODMValueLifetime;
}

void APMMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("maybeDeleteExpiredPSMValueOnWorkerQueue");
  std::shared_ptr<APMDatabase> db = database();
  if (!db) return;
  struct Stored {
    const char* name;
    int64_t code;
    const char* message;
  };
  for (const Stored& stored : {Stored{"odm1_value", 23289, "Failed to delete ODM value. Error"},
                               Stored{"odm1_session_value", 23296, "Failed to delete ODM session value. Error"},
                               Stored{"odm1_group_id", 23301, "Failed to delete ODM group ID. Error"}}) {
    if (!isExpiredODMValueWithName(stored.name)) continue;
    platform::Error error;
    if (!db->deleteODMValueWithName(stored.name, &error)) monitor()->logWithLevel(4, stored.code, stored.message, error);
  }
  std::shared_ptr<APMUserAttribute> match = db->userAttributeWithName("_psmvalue", nullptr);
  if (!match) return;
  if (std::fabs(platform::Clock::current()->now() - match->lastSetTimestamp()) >= kODMValueLifetime) {
    for (const char* name : {"_psmvalue", "_psmcount", "_psmcountph", "_psmcounth", "_psmcounthph"}) {
      if (db->containsUserAttributeWithName(name, nullptr).value_or(Value(false)).boolValue()) {
        db->deleteUserAttributeWithName(name, nullptr);
      }
    }
    return;
  }
  if (!db->ODMValueWithName("odm1_value", nullptr) && match->value()) {
    db->updateODMValue(match->value()->stringValue().value_or(""), "odm1_value", match->lastSetTimestamp(), nullptr);
  }
}
