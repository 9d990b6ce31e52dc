// Measurement base subcommands: the shared monitor, the worker scheduler,
// data utilities, decimals, name tables, debug text, file locations and the
// measurement preference store.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMDecimal.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/APMValue.h"
#include "platform/storage/Json.h"
#include "platform/text/NumberText.h"
#include "platform/values/Exception.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

// The shared monitor after its start-up task; before the probe exits its
// queue is drained so every console line is out.
std::shared_ptr<APMMonitor> startedMonitor() {
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  static std::once_flag once;
  std::call_once(once, [] { atFinish([] { APMEngineServices::monitor()->monitorQueue().sync([] {}); }); });
  monitor->monitorQueue().sync([] {});
  return monitor;
}

namespace {

// A JSON argument (inline or "@PATH"); none when it is not JSON.
std::optional<platform::Value> parseJsonValue(const std::string& argument) {
  std::string error;
  return parseJsonArgument(argument, error);
}

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

std::string yesNo(bool value) { return value ? "YES" : "NO"; }

// One monitor context from its JSON form: a string, an integer, null, or
// {"error": [DOMAIN, CODE, MONITORCONTEXT]}.
std::optional<APMLogContext> contextFromJson(const platform::Value& json) {
  if (json.isNull() || json.isString() || json.isInteger()) return APMLogContext(json);
  const platform::Value& error = json["error"];
  std::optional<platform::Array> parts = error.asArray();
  if (!parts || parts->size() != 3 || !(*parts)[0].isString() || !(*parts)[1].isInteger() ||
      !(*parts)[2].isString()) {
    return std::nullopt;
  }
  platform::Dictionary userInfo;
  if (!(*parts)[2].asString()->empty()) userInfo.set(kAPMMonitorContextKey, (*parts)[2]);
  return APMLogContext(platform::Error(*(*parts)[0].asString(), (*parts)[1].longLongValue(), userInfo));
}

// A parameter dictionary of APMValues from JSON: strings, integers, other
// numbers, and arrays of such dictionaries.
std::optional<platform::Value> parametersFromJson(const platform::Value& json) {
  std::optional<platform::Dictionary> object = json.asDictionary();
  if (!object) return std::nullopt;
  platform::Dictionary parameters;
  for (const auto& [name, value] : *object) {
    if (std::optional<platform::Array> array = value.asArray()) {
      platform::Array elements;
      for (const platform::Value& element : array->items()) {
        std::optional<platform::Value> converted = parametersFromJson(element);
        if (!converted) return std::nullopt;
        elements.append(*converted);
      }
      parameters.set(name, APMValue::toObject(APMValue::initWithArray(platform::Value(elements))));
      continue;
    }
    APMValuePtr typed = APMValue::valueFromObject(value);
    if (!typed) return std::nullopt;
    parameters.set(name, APMValue::toObject(typed));
  }
  return platform::Value(parameters);
}

std::string escapedLineBreaks(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  return escaped;
}

std::optional<std::string> suiteArgument(const std::string& suite) {
  if (suite.empty()) return std::nullopt;
  return suite;
}

}  // namespace

std::vector<Subcommand> measurementBaseSubcommands() {
  return {
      {"monitor-log", 4, "monitor-log LEVEL CODE MESSAGE CONTEXTS",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> level = platform::NumberText::parseInt64(arguments[0]);
         std::optional<int64_t> code = platform::NumberText::parseInt64(arguments[1]);
         std::optional<platform::Value> json = parseJsonValue(arguments[3]);
         if (!level || !code) return badArgument("LEVEL and CODE must be integers");
         if (!json || !json->isArray()) return badArgument("CONTEXTS must be a JSON array");
         std::vector<APMLogContext> contexts;
         const platform::Array elements = *json->asArray();
         for (const platform::Value& element : elements) {
           std::optional<APMLogContext> context = contextFromJson(element);
           if (!context) return badArgument("a context is a string, an integer, null or {\"error\": [D, C, M]}");
           contexts.push_back(*context);
         }
         std::shared_ptr<APMMonitor> monitor = startedMonitor();
         monitor->logWithLevelContexts(*level, *code, arguments[2], contexts);
         // The report is sampled at the time its queued work runs: let it run now.
         monitor->monitorQueue().sync([] {});
         result("logged");
         return 0;
       }},
      {"monitor-dispatch", 2, "monitor-dispatch PERIOD LAST",
       [](const std::vector<std::string>& arguments) {
         std::optional<double> period = platform::NumberText::parseDouble(arguments[0]);
         std::optional<double> last = platform::NumberText::parseDouble(arguments[1]);
         if (!period || !last) return badArgument("PERIOD and LAST must be numbers of seconds");
         std::optional<std::string> data =
             startedMonitor()->monitoringDataForDispatchWithSamplePeriod(*period, *last);
         result(data.value_or("nil"));
         return 0;
       }},
      {"monitor-encode", 1, "monitor-encode VALUE",
       [](const std::vector<std::string>& arguments) {
         std::optional<platform::Value> json = parseJsonValue(arguments[0]);
         if (!json || !(json->isNull() || json->isString() || json->isInteger())) {
           return badArgument("VALUE must be a JSON integer, string or null");
         }
         startedMonitor();
         result(APMMonitor::encodedStringWithContextObject(APMLogContext(*json)));
         return 0;
       }},
      {"scheduler-throw", 1, "scheduler-throw sync|async",
       [](const std::vector<std::string>& arguments) {
         if (arguments[0] != "sync" && arguments[0] != "async") return badArgument("sync or async");
         startedMonitor();
         APMScheduler scheduler("com.zoruvu.vuve.worker");
         auto thrower = [] { platform::Exception::raise("ProbeException", "probe"); };
         auto after = [] { result("after"); };
         if (arguments[0] == "sync") {
           scheduler.dispatchSyncOnWorkerQueueBlockID("probe", thrower);
           scheduler.dispatchSyncOnWorkerQueueBlockID("after", after);
         } else {
           scheduler.scheduleOnWorkerQueueBlockID("probe", thrower);
           scheduler.scheduleOnWorkerQueueBlockID("after", after);
           scheduler.workerQueue().sync([] {});
         }
         return 0;
       }},
      {"md5", 1, "md5 TEXT",
       [](const std::vector<std::string>& arguments) {
         std::optional<std::string> hex = apm_MD5String(arguments[0]);
         if (!hex) return badArgument("TEXT must be UTF-8");
         result(*hex + " " + platform::NumberText::format(apm_64LSBMD5(std::string_view(arguments[0]))));
         return 0;
       }},
      {"query-parse", 1, "query-parse TEXT",
       [](const std::vector<std::string>& arguments) {
         result(compactJson(platform::Value(apm_dictionaryWithHttpArgumentsString(arguments[0]))));
         return 0;
       }},
      {"query-string", 1, "query-string JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<platform::Value> json = parseJsonValue(arguments[0]);
         if (!json || !json->isDictionary() || json->asDictionary()->size() != 1) {
           return badArgument("JSON must be an object with one entry");
         }
         result(apm_queryString(*json->asDictionary()));
         return 0;
       }},
      {"unescape", 1, "unescape TEXT",
       [](const std::vector<std::string>& arguments) {
         std::optional<std::string> text = apm_stringByUnescapingFromURLArgument(arguments[0]);
         result(text ? compactJson(platform::Value(*text)) : "nil");
         return 0;
       }},
      {"decimal", 1, "decimal TEXT",
       [](const std::vector<std::string>& arguments) {
         startedMonitor();
         std::optional<APMDecimal> number = APMDecimalNumberFromString(arguments[0]);
         result(number ? number->canonicalText() : "nil");
         return 0;
       }},
      {"utf32len", 1, "utf32len TEXT",
       [](const std::vector<std::string>& arguments) {
         result(std::to_string(apm_UTF32Length(arguments[0])));
         return 0;
       }},
      {"name-tables", 0, "name-tables",
       [](const std::vector<std::string>&) {
         result("events " + std::to_string(APMEventNameMap().size()) + " inverse " +
                std::to_string(APMInternalToPublicEventNameMap().size()) + " params " +
                std::to_string(APMPublicToInternalParamNames().size()) + " reserved " +
                std::to_string(APMReservedUserPropertyNames().size()) + " ecommerce " +
                std::to_string(APMEcommerceEventNameCount()) + " items " +
                std::to_string(APMStandardItemParameterNameCount()));
         return 0;
       }},
      {"name-lookup", 2, "name-lookup event|inverse|param|reserved|allowed|ecommerce|items|public NAME",
       [](const std::vector<std::string>& arguments) {
         const std::string& table = arguments[0];
         const std::string& name = arguments[1];
         const APMNameMap* map = table == "event"      ? &APMEventNameMap()
                                 : table == "inverse"  ? &APMInternalToPublicEventNameMap()
                                 : table == "param"    ? &APMPublicToInternalParamNames()
                                 : table == "reserved" ? &APMReservedUserPropertyNames()
                                 : table == "allowed"  ? &APMAllowedPublicEventNameMap()
                                                       : nullptr;
         if (map != nullptr) {
           auto found = map->find(name);
           result(found == map->end() ? "nil" : found->second);
         } else if (table == "ecommerce") {
           result(yesNo(APMIsEcommerceEventName(name)));
         } else if (table == "items") {
           result(yesNo(APMIsStandardItemParameterName(name)));
         } else if (table == "public") {
           startedMonitor();
           result(yesNo(APMIsPublicName(name)));
         } else {
           return badArgument("unknown table " + table);
         }
         return 0;
       }},
      {"debug-description", 1, "debug-description JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<platform::Value> json = parseJsonValue(arguments[0]);
         std::optional<platform::Value> parameters;
         startedMonitor();
         if (json) parameters = json->isDictionary() ? parametersFromJson(*json) : json;
         if (!parameters) return badArgument("JSON must be a value or a parameter object");
         result(escapedLineBreaks(APMDescriptionString(*parameters)));
         return 0;
       }},
      {"measurement-paths", 1, "measurement-paths NAME",
       [](const std::vector<std::string>& arguments) {
         startedMonitor();
         result(APMApplicationSupportPath(arguments[0]));
         result(APMMeasurementPlistPath(arguments[0]));
         result(APMPreferencesPlistPath(arguments[0]));
         return 0;
       }},
      {"apm-defaults-set", 3, "apm-defaults-set SUITE KEY JSON",
       [](const std::vector<std::string>& arguments) {
         std::optional<platform::Value> json = parseJsonValue(arguments[2]);
         if (!json) return badArgument("JSON must be a JSON value");
         APMUserDefaults defaults(suiteArgument(arguments[0]));
         defaults.setObject(*json, arguments[1]);
         defaults.synchronize();
         result("ok");
         return 0;
       }},
      {"apm-defaults-get", 2, "apm-defaults-get SUITE KEY",
       [](const std::vector<std::string>& arguments) {
         APMUserDefaults defaults(suiteArgument(arguments[0]));
         std::optional<platform::Value> value = defaults.objectForKey(arguments[1]);
         result(value ? compactJson(*value) : "nil");
         return 0;
       }},
  };
}

}  // namespace sdkprobe
