#include "sdk/messaging/RIRMessagingCheckinService.h"

#include "platform/storage/Json.h"
#include "platform/time/TimeZone.h"
#include "sdk/installations/RIRInstallationsLogger.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr long kCodeHttpError = 27000;
constexpr long kCodeJsonError = 27001;
constexpr long kCodeFutureTimestamp = 27002;
constexpr long kCodeSuccess = 27003;
constexpr long kCodeSessionInvalid = 27005;
constexpr long kCodeParameters = 27006;
constexpr long kCodeInvalidSetting = 27008;

constexpr double kResourceTimeout = 60;

// A stored decimal ID as the JSON number the request carries: signed when it
// fits, else unsigned; 0 for anything that is not a decimal 64-bit number.
Value idNumber(const std::string& text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string digits = negative ? text.substr(1) : text;
  if (digits.empty() || digits.size() > 20) return Value(0LL);
  unsigned long long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return Value(0LL);
    unsigned long long digit = static_cast<unsigned long long>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return Value(0LL);
    value = value * 10 + digit;
  }
  if (negative) {
    if (value > static_cast<unsigned long long>(INT64_MAX) + 1) return Value(0LL);
    return Value(static_cast<long long>(0 - value));
  }
  if (value <= static_cast<unsigned long long>(INT64_MAX)) return Value(static_cast<long long>(value));
  return Value(value);
}

// The exact decimal text of an ID in an answer when it is a positive 64-bit
// integer (an integer number or a string of digits); empty for anything else.
// 0 is the request's own "no device", so it is no ID either.
std::string idText(const Value& value) {
  std::string text;
  if (value.isNumber() && value.isInteger()) {
    text = value.stringValue();
  } else if (const std::string* string = value.asString()) {
    text = *string;
  }
  if (text.empty()) return "";
  unsigned long long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return "";
    const unsigned long long digit = static_cast<unsigned long long>(c - '0');
    if (number > (UINT64_MAX - digit) / 10) return "";
    number = number * 10 + digit;
  }
  return number > 0 ? text : "";
}

std::string stringOrEmpty(const Value& value) {
  const std::string* text = value.asString();
  return text ? *text : std::string();
}

platform::Error notAnObjectError() {
  return platform::Error::make(platform::Json::kErrorDomain, platform::Json::kErrorCode,
                               "The check-in answer is not a JSON object.");
}

}  // namespace

RIRMessagingCheckinService::RIRMessagingCheckinService() {
  platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
  configuration.timeoutIntervalForResource = kResourceTimeout;
  m_session = platform::HttpSession::create(configuration);
}

RIRMessagingCheckinService::~RIRMessagingCheckinService() {
  std::shared_ptr<platform::HttpSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    session = std::move(m_session);
  }
  if (session) session->invalidateAndCancel();
}

void RIRMessagingCheckinService::stopFetching() {
  std::shared_ptr<platform::HttpSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    session = std::move(m_session);
  }
  if (session) session->invalidateAndCancel();
}

Dictionary RIRMessagingCheckinService::checkinParametersWithExistingCheckin(
    const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin) const {
  const long long lastCheckin = checkin ? checkin->lastCheckinTimestampMillis() : 0;
  Dictionary iosbuild{{"model", Value(ZULAppEnvironmentUtil::deviceModel())},
                      {"os_version", Value("IOS_" + ZULAppEnvironmentUtil::systemVersion())}};
  Dictionary checkinPart{{"iosbuild", Value(iosbuild)},
                         {"type", Value(2)},
                         {"user_number", Value(0)},
                         {"last_checkin_msec", Value(lastCheckin)}};
  Dictionary parameters{
      {"checkin", Value(checkinPart)},
      {"fragment", Value(0)},
      {"locale", Value(RIRMessagingCurrentLocale())},
      {"version", Value(2)},
      {"digest", Value(checkin ? checkin->digest() : std::string())},
      {"time_zone", Value(platform::TimeZone::name())},
      {"user_serial_number", Value(0)},
      {"id", checkin ? idNumber(checkin->deviceID()) : Value(0LL)},
      {"security_token", checkin ? idNumber(checkin->secretToken()) : Value(0LL)},
  };
  RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, kCodeParameters, [&] {
    Dictionary shown = parameters.copy();
    shown.set("security_token", Value(kRIRInstallationsRedacted));
    return "Checkin parameters: " + Value(shown).description();
  });
  return parameters;
}

platform::Result<std::shared_ptr<RIRMessagingCheckinPreferences>> RIRMessagingCheckinService::parseCheckinResponse(
    const platform::Bytes& body) {
  const RIRMessagingLogger& logger = RIRMessagingSharedLogger();
  platform::Result<Value> parsed = platform::Json::parse(body);
  std::optional<platform::Error> parseError;
  if (!parsed) {
    parseError = parsed.error();
  } else if (!parsed->isDictionary()) {
    parseError = notAnObjectError();
  }
  if (parseError) {
    logger.logFuncDebug(kCodeJsonError, "Error serializing json object. Error Code: " + std::to_string(parseError->code));
    return *parseError;
  }
  const Value& response = parsed.value();
  const std::string deviceID = idText(response["android_id"]);
  const std::string secret = idText(response["security_token"]);
  if (deviceID.empty()) {
    return RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeInvalidDeviceAuthID,
                                                      "Invalid device auth ID.");
  }
  if (secret.empty()) {
    return RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeInvalidDeviceAuthID,
                                                      "Invalid device auth secret.");
  }

  int64_t timestamp = response["time_msec"].asInt64().value_or(0);
  if (response["time_msec"].isNumber() && !response["time_msec"].asInt64()) {
    // An unsigned value beyond the signed range lies in the future too.
    if (response["time_msec"].asUInt64()) timestamp = INT64_MAX;
  }
  const int64_t now = RIRMessagingCurrentTimestampInMilliseconds();
  if (timestamp > now) {
    logger.logLazy(ZULLoggerLevelDebug, kCodeFutureTimestamp, [&] {
      return "Invalid last checkin timestamp " + Value::date(static_cast<double>(timestamp) / 1000.0).description() +
             " in future.";
    });
    timestamp = now;
  }

  const std::string deviceDataVersion = stringOrEmpty(response["device_data_version_info"]);
  const std::string digest = stringOrEmpty(response["digest"]);
  const std::string versionInfo = stringOrEmpty(response["version_info"]);
  logger.logFuncDebug(kCodeSuccess, "Checkin successful with authId: " + deviceID + ", digest: " + digest +
                                        ", lastCheckinTimestamp: " + std::to_string(timestamp));

  Dictionary settings;
  if (auto list = response["setting"].asArray()) {
    for (const Value& entry : platform::Array(*list)) {
      const Value& name = entry["name"];
      const Value& value = entry["value"];
      if (!name.isString() || value.isNull()) {
        logger.logLazy(ZULLoggerLevelDebug, kCodeInvalidSetting, [&] {
          return "Invalid setting in checkin response: (" + (name.isNull() ? std::string("(null)") : name.description()) +
                 ": " + (value.isNull() ? std::string("(null)") : value.description()) + ")";
        });
        continue;
      }
      settings.set(*name.asString(), value);
    }
  }

  auto checkin = std::make_shared<RIRMessagingCheckinPreferences>(deviceID, secret);
  checkin->updateWithCheckinPlistContents(Dictionary{
      {kRIRMessagingCheckinDigestKey, Value(digest)},
      {kRIRMessagingCheckinVersionInfoKey, Value(versionInfo)},
      {kRIRMessagingCheckinLastCheckinTimestampKey, Value(static_cast<long long>(timestamp))},
      {kRIRMessagingCheckinZServicesDataKey, Value(settings)},
      {kRIRMessagingCheckinDeviceDataVersionKey, Value(deviceDataVersion)},
  });
  return checkin;
}

void RIRMessagingCheckinService::checkinWithExistingCheckin(
    const std::shared_ptr<RIRMessagingCheckinPreferences>& checkin, Completion completion) {
  std::shared_ptr<platform::HttpSession> session;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    session = m_session;
  }
  if (!session) {
    RIRMessagingSharedLogger().logFuncError(kCodeSessionInvalid, "Inconsistent state: NSURLSession has been invalidated");
    if (completion) {
      completion(nullptr, RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeNoCheckin,
                                                                     "Failed to checkin. NSURLSession is invalid."));
    }
    return;
  }
  platform::HttpRequest request(RIRMessagingCheckinServer(), "POST");
  request.setValue("application/json", "content-type");
  platform::Result<platform::Bytes> body = platform::Json::serializeData(Value(checkinParametersWithExistingCheckin(checkin)));
  if (body) request.setBody(body.value());
  std::shared_ptr<platform::HttpTask> task =
      session->dataTask(std::move(request), [completion = std::move(completion)](platform::HttpResult result) {
        if (result.error) {
          RIRMessagingSharedLogger().logFuncDebug(
              kCodeHttpError, "Device checkin HTTP fetch error. Error Code: " + std::to_string(result.error->code));
          if (completion) completion(nullptr, result.error);
          return;
        }
        if (std::optional<platform::Error> refused = RIRMessagingErrors::errorForHTTPStatus(result)) {
          RIRMessagingSharedLogger().logFuncDebug(
              kCodeHttpError, "Device checkin HTTP fetch error. Error Code: " + std::to_string(result.statusCode()));
          if (completion) completion(nullptr, refused);
          return;
        }
        platform::Result<std::shared_ptr<RIRMessagingCheckinPreferences>> parsed = parseCheckinResponse(result.body);
        if (!completion) return;
        if (parsed) {
          completion(parsed.value(), std::nullopt);
        } else {
          completion(nullptr, parsed.error());
        }
      });
  task->resume();
}
