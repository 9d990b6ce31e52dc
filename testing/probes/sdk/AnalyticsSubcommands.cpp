// Analytics subcommands: the session (analytics-start, analytics-advance),
// events and default parameters through the public interface, what the engine
// stored (analytics-raw, analytics-props), monitor lines, consent, the bundle
// consent fields, the log sink and the previous hour.
#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMASLLogger.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/engine/APMBundleIdentifiers.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMMeasurementUtil.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/messages/APMPBSlots.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/text/NumberText.h"
#include "sdk/utilities/ZULLogger.h"
#include "testing/probes/sdk/AnalyticsSession.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Dictionary;
using platform::Value;

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

AnalyticsSession& session() { return AnalyticsSession::shared(); }

// A JSON argument that must be an object (or null when allowed).
std::optional<Value> jsonObject(const std::string& argument, bool allowNull) {
  std::string error;
  std::optional<Value> json = parseJsonArgument(argument, error);
  if (!json) {
    badArgument(error);
    return std::nullopt;
  }
  if (!json->isDictionary() && !(allowNull && json->isNull())) {
    badArgument(allowNull ? "JSON must be an object or null" : "JSON must be an object");
    return std::nullopt;
  }
  return json;
}

int settled(const std::string& line) {
  if (!session().settle()) return 1;
  result(line);
  return 0;
}

std::string consentState() {
  return "consent signals=" + APMConsentSettingsUtil::consentSignals() +
         " diagnostics=" + APMConsentSettingsUtil::consentDiagnostics() +
         " source=" + std::to_string(APMConsentSettingsUtil::consentSource());
}

// An identity described by the test driver.
class DescribedIdentity : public APMIdentityValues {
 public:
  explicit DescribedIdentity(const Dictionary& description) : m_description(description) {}

  bool hasTrackingAuthorization() override { return m_description.contains("att"); }
  uint64_t trackingAuthorizationStatus() override { return m_description.get("att").unsignedLongLongValue(); }
  bool hasLimitedAdTracking() override { return m_description.contains("lat"); }
  bool limitedAdTracking() override { return m_description.get("lat").boolValue(); }
  std::optional<std::string> resettableDeviceID() override { return text("adid"); }
  std::optional<std::string> identifierForVendor() override { return text("vendor"); }
  std::optional<std::string> appInstanceID() override { return text("instance"); }
  std::string ephemeralAppInstanceID() override { return text("ephemeral").value_or(""); }

 private:
  std::optional<std::string> text(const char* key) const {
    const Value* value = m_description.find(key);
    return value && value->isString() ? std::optional<std::string>(*value->asString()) : std::nullopt;
  }
  Dictionary m_description;
};

int bundleConsent(const Dictionary& description) {
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  const Dictionary fields = description.get("bundle").asDictionary().value_or(Dictionary());
  for (const auto& [tag, slot] : {std::pair{"9", APMPBMeasurementBundleSlot::kOSVersion}, std::pair{"10", APMPBMeasurementBundleSlot::kDeviceModel},
                                  std::pair{"63", APMPBMeasurementBundleSlot::kSessionStitchingToken}}) {
    if (const Value* value = fields.find(tag); value && value->isString()) APMPBSetString(bundle.get(), slot, *value->asString());
  }
  if (const Value* count = fields.find("29")) {
    platform::Array results;
    for (int64_t index = 0; index < std::clamp<int64_t>(count->longLongValue(), 0, 1000); ++index) {
      results.append(APMPBObjectValue(APMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr)));
    }
    APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kAudienceEvaluationResults, results);
  }
  DescribedIdentity identity(description.get("identity").asDictionary().value_or(Dictionary()));
  const Value signals = description.get("signals");
  APMApplyIdentifiersUnderConsent(*bundle, signals.isString() ? *signals.asString() : std::string(),
                                  description.get("gate").boolValue(), identity, true);
  APMApplyConsentExtras(*bundle, APMConsentSettingsUtil::consentDiagnostics(),
                        APMConsentSettingsUtil::isAdUserDataDenied(), nullptr, *APMMeasurement::remoteConfig(), true);
  std::vector<std::string> redacted;
  for (const Value& name : description.get("redact").asArray().value_or(platform::Array())) {
    if (name.isString()) redacted.push_back(*name.asString());
  }
  APMRedactBundleFields(*bundle, redacted, identity);

  auto string = [&bundle](int tag, int32_t slot) {
    if (std::optional<std::string> value = APMPBGetString(bundle.get(), slot)) result("tag " + std::to_string(tag) + "=" + *value);
  };
  string(9, APMPBMeasurementBundleSlot::kOSVersion);
  string(10, APMPBMeasurementBundleSlot::kDeviceModel);
  string(19, APMPBMeasurementBundleSlot::kResettableDeviceID);
  if (APMPBHasField(bundle.get(), APMPBMeasurementBundleSlot::kLimitedAdTracking)) {
    result(std::string("tag 20=") + (APMPBGetBool(bundle.get(), APMPBMeasurementBundleSlot::kLimitedAdTracking) ? "1" : "0"));
  }
  string(21, APMPBMeasurementBundleSlot::kAppInstanceID);
  string(27, APMPBMeasurementBundleSlot::kVendorID);
  const size_t results = APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kAudienceEvaluationResults).value_or(platform::Array()).size();
  if (results > 0) result("tag 29=" + std::to_string(results));
  string(52, APMPBMeasurementBundleSlot::kConsentSignals);
  if (APMPBHasField(bundle.get(), APMPBMeasurementBundleSlot::kTrackingAuthorizationStatus)) {
    result("tag 53=" + std::to_string(static_cast<uint32_t>(APMPBGetInt32(bundle.get(), APMPBMeasurementBundleSlot::kTrackingAuthorizationStatus))));
  }
  string(63, APMPBMeasurementBundleSlot::kSessionStitchingToken);
  const platform::Array names = APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields).value_or(platform::Array());
  if (!names.empty()) {
    std::string joined;
    for (const Value& name : names) joined += (joined.empty() ? "" : ",") + name.stringValue();
    result("tag 64=" + joined);
  }
  string(65, APMPBMeasurementBundleSlot::kEphemeralAppInstanceID);
  return 0;
}

int rawEvents() {
  std::vector<std::string> lines;
  const bool ran = session().onWorkerQueue([&lines](APMMeasurement& engine) {
    std::shared_ptr<APMDatabase> database = engine.database();
    if (!database) return;
    platform::Error error;
    std::optional<std::vector<APMSqliteStore::Record>> flags = database->sqliteStore()->recordsForQuery(
        "SELECT rowid, is_realtime FROM raw_events ORDER BY rowid", {}, &error);
    std::map<int64_t, bool> realtime;
    for (const APMSqliteStore::Record& row : flags.value_or(std::vector<APMSqliteStore::Record>())) {
      realtime[row.get("rowid").longLongValue()] = row.get("is_realtime").longLongValue() != 0;
    }
    for (const std::shared_ptr<APMRawEventData>& raw :
         database->allRawEventsWithError(&error).value_or(std::vector<std::shared_ptr<APMRawEventData>>())) {
      const APMEvent& event = *raw->rawEvent();
      lines.push_back("raw " + event.name() + " t=" + std::to_string(APMMillisecondsFromSeconds(event.timestamp())) +
                      " rt=" + (realtime[raw->rowID()] ? "1" : "0") + " " +
                      AnalyticsSession::parameterText(event.parameters()));
    }
  });
  if (!ran) return badArgument("no measurement engine");
  if (lines.empty()) lines.push_back("raw none");
  for (const std::string& line : lines) result(line);
  return 0;
}

int userProperties() {
  std::vector<std::shared_ptr<APMUserAttribute>> attributes;
  const bool ran = session().onWorkerQueue([&attributes](APMMeasurement& engine) {
    platform::Error error;
    if (std::shared_ptr<APMDatabase> database = engine.database()) {
      attributes = database->userAttributesIncludingInternal(true, &error).value_or(attributes);
    }
  });
  if (!ran) return badArgument("no measurement engine");
  std::sort(attributes.begin(), attributes.end(),
            [](const auto& a, const auto& b) { return a->name() < b->name(); });
  if (attributes.empty()) result("prop none");
  for (const std::shared_ptr<APMUserAttribute>& attribute : attributes) {
    result("prop " + attribute->name() + "=" +
           compactJson(AnalyticsSession::plainValue(APMValue::toObject(attribute->value()))) +
           " set=" + std::to_string(APMMillisecondsFromSeconds(attribute->lastSetTimestamp())));
  }
  return 0;
}

}  // namespace

void withoutAnalyticsIfAsked() {
  const char* without = std::getenv("SDK_PROBE_WITHOUT_ANALYTICS");
  if (without && *without) platform::ClassRegistry::shared().removeClass(ROZAdavurudo::kClassName);
}

std::vector<Subcommand> analyticsSubcommands() {
  return {
      {"analytics-start", 1, "analytics-start EPOCH",
       [](const std::vector<std::string>& arguments) {
         std::optional<double> epoch = platform::NumberText::parseDouble(arguments[0]);
         if (!epoch || !std::isfinite(*epoch)) return badArgument("EPOCH must be a number of seconds since 1970");
         if (!session().start(*epoch)) return 1;
         std::shared_ptr<APMMeasurement> engine = session().engine();
         result(std::string("analytics started enabled=") + (engine && engine->isEnabled() ? "YES" : "NO"));
         return 0;
       }},
      {"analytics-advance", 1, "analytics-advance SECONDS",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<double> seconds = platform::NumberText::parseDouble(arguments[0]);
         if (!seconds || !std::isfinite(*seconds) || *seconds < 0) {
           return badArgument("SECONDS must be a number of seconds, at least 0");
         }
         if (!session().advance(*seconds)) return 1;
         result("at " + session().now());
         return 0;
       }},
      {"analytics-log", 2, "analytics-log NAME JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Value> parameters = jsonObject(arguments[1], false);
         if (!parameters) return 2;
         ROZAdavurudo::logEventWithName(arguments[0], *parameters->asDictionary());
         return settled("logged " + arguments[0]);
       }},
      {"analytics-log-internal", 3, "analytics-log-internal ORIGIN NAME JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Value> parameters = jsonObject(arguments[2], false);
         if (!parameters) return 2;
         ROZAdavurudo::sharedInstance()->logInternalEventWithOriginInstance(arguments[0], arguments[1],
                                                                           *parameters->asDictionary());
         return settled("logged " + arguments[1]);
       }},
      {"analytics-defaults", 1, "analytics-defaults JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Value> parameters = jsonObject(arguments[0], true);
         if (!parameters) return 2;
         ROZAdavurudo::setDefaultEventParameters(parameters->asDictionary());
         return settled("defaults set");
       }},
      {"analytics-raw", 0, "analytics-raw",
       [](const std::vector<std::string>&) {
         if (int refused = session().requireStarted()) return refused;
         return rawEvents();
       }},
      {"analytics-props", 0, "analytics-props",
       [](const std::vector<std::string>&) {
         if (int refused = session().requireStarted()) return refused;
         return userProperties();
       }},
      {"analytics-monitor", 1, "analytics-monitor CODE",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<int64_t> code = platform::NumberText::parseInt64(arguments[0]);
         if (!code) return badArgument("CODE must be an integer");
         std::vector<AnalyticsMonitorLine> lines = session().monitorLines(*code);
         if (lines.empty()) result("monitor none");
         for (const AnalyticsMonitorLine& line : lines) {
           result("monitor " + std::to_string(line.level) + " " + std::to_string(line.code) + " " + line.message);
         }
         return 0;
       }},
      {"analytics-consent", 1, "analytics-consent JSON",
       [](const std::vector<std::string>& arguments) {
         if (int refused = session().requireStarted()) return refused;
         std::optional<Value> consent = jsonObject(arguments[0], false);
         if (!consent) return 2;
         ROZAdavurudo::setConsent(*consent->asDictionary());
         return settled(consentState());
       }},
      {"analytics-consent-state", 0, "analytics-consent-state",
       [](const std::vector<std::string>&) {
         result(consentState());
         return 0;
       }},
      {"bundle-consent", 1, "bundle-consent JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<Value> description = jsonObject(arguments[0], false);
         if (!description) return 2;
         return bundleConsent(*description->asDictionary());
       }},
      {"asl-log", 3, "asl-log LEVEL CODE TEXT",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> level = platform::NumberText::parseInt64(arguments[0]);
         std::optional<int64_t> code = platform::NumberText::parseInt64(arguments[1]);
         if (!level || !code) return badArgument("LEVEL and CODE must be integers");
         APMASLLogger().logMessage(arguments[2], APMEngineServices::monitor()->logTag(), *code, *level);
         ZULLogFlush();
         result("level=" + std::to_string(APMASLLogger::ZULLoggerLevelFromLogLevel(*level)) +
                " force=" + (*level == 7 ? "1" : "0"));
         return 0;
       }},
      {"prev-hour", 1, "prev-hour MS",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> milliseconds = platform::NumberText::parseInt64(arguments[0]);
         if (!milliseconds) return badArgument("MS must be an integer");
         result(std::to_string(APMPreviousHourStartMillis(*milliseconds)));
         return 0;
       }},
  };
}

}  // namespace sdkprobe
