// Measurement settings, persisted configuration, identity and product
// look-up subcommands. The bundle is that of APP_RESOURCES, the folders those
// of HOME; JSON output is compact with keys sorted bytewise.
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentifiers.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMPersistentDictionary.h"
#include "measurement/base/APMProductsRequest.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMZoruvuServiceFileUtil.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/storage/Json.h"
#include "platform/text/NumberText.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

std::shared_ptr<APMPersistedConfig> sharedPersistedConfig() {
  static std::once_flag once;
  std::call_once(once, [] {
    atFinish([] {
      std::shared_ptr<APMPersistedConfig> config = APMPersistedConfig::sharedInstance();
      auto dictionary = config ? std::dynamic_pointer_cast<APMPersistentDictionary>(config->userDefaults()) : nullptr;
      if (dictionary && dictionary->hasPendingPersistence()) dictionary->persistToDisk();
    });
  });
  return APMPersistedConfig::sharedInstance();
}

namespace {

std::string yesNo(bool value) { return value ? "YES" : "NO"; }

int badArgument(const std::string& message) {
  result("error: " + message);
  return 2;
}

// The settings installed by settings-config, else the seam's.
std::shared_ptr<APMRemoteConfig> settings() { return APMEngineServices::remoteConfig(); }

std::string settingText(const platform::Value& value) {
  if (value.isBool()) return yesNo(*value.asBool());
  if (value.isInteger()) return platform::NumberText::format(value.longLongValue());
  return timeText(value.doubleValue());
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) {
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

template <class Range>
std::string joined(const Range& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text.empty() ? "none" : text;
}

std::optional<bool> flagArgument(const std::string& text) {
  if (text == "0") return false;
  if (text == "1") return true;
  return std::nullopt;
}

}  // namespace

std::vector<Subcommand> measurementSettingsSubcommands() {
  // Every report of these subcommands is out before the probe exits.
  auto run = [](std::function<int(const std::vector<std::string>&)> body) {
    return [body](const std::vector<std::string>& arguments) {
      startedMonitor();
      return body(arguments);
    };
  };
  std::vector<Subcommand> subcommands = {
      {"settings-config", 1, "settings-config SPEC",
       [](const std::vector<std::string>& arguments) {
         std::shared_ptr<NANOMessageBase> message = wireMessageFromSpec("MeasurementConfig", arguments[0]);
         if (!message) return 2;
         auto config = std::static_pointer_cast<APMPBMeasurementConfig>(message);
         std::optional<std::string> appID;
         if (std::optional<platform::Dictionary> options =
                 APMZoruvuServiceFileUtil::dictionaryFromZoruvuServiceInfoPlist()) {
           if (const std::string* id = (*options)["ZORUVU_APP_ID"].asString()) appID = *id;
         }
         std::shared_ptr<APMRemoteConfig> made =
             APMRemoteConfig::initWithAppID(appID, {}, config, sharedPersistedConfig(), nullptr);
         APMEngineServices::setRemoteConfigProvider([made] { return made; });
         result("settings version " + std::to_string(made->version()));
         return 0;
       }},
      {"setting", 1, "setting GETTER",
       [](const std::vector<std::string>& arguments) {
         if (arguments[0] == "version") {
           result(std::to_string(settings()->version()));
           return 0;
         }
         std::optional<platform::Value> value = settings()->settingValueForGetter(arguments[0]);
         if (!value) return badArgument("unknown setting " + arguments[0]);
         result(settingText(*value));
         return 0;
       }},
      {"event-config", 1, "event-config EVENT",
       [](const std::vector<std::string>& arguments) {
         std::shared_ptr<APMRemoteConfig> config = settings();
         const std::string& name = arguments[0];
         result("blocklisted=" + yesNo(config->isEventBlocklisted(name)) +
                " conversion=" + yesNo(config->isEventCustomConversion(name)) +
                " has_rate=" + yesNo(config->eventHasSamplingRate(name)) +
                " rate=" + std::to_string(config->samplingRateForEvent(name)));
         return 0;
       }},
      {"consent", 0, "consent",
       [](const std::vector<std::string>&) {
         std::shared_ptr<APMRemoteConfig> config = settings();
         result("defaults " + compactJson(platform::Value(config->consentDefaults())));
         result("delegations " + compactJson(platform::Value(config->consentDelegations())));
         platform::Array services;
         for (const std::string& service : config->corePlatformServices()) services.append(service);
         result("services " + compactJson(platform::Value(services)));
         result("regional " + compactJson(platform::Value(config->regionalDefaults())));
         result("dma " + yesNo(config->isDMARegion()));
         return 0;
       }},
      {"data-controls", 0, "data-controls",
       [](const std::vector<std::string>&) {
         platform::Array controls;
         for (const std::string& control : settings()->dataControls()) controls.append(control);
         result(compactJson(platform::Value(controls)));
         return 0;
       }},
      {"config-url", 3, "config-url PLATFORM SDKVERSION RUNTIME",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> sdk = platform::NumberText::parseInt64(arguments[1]);
         std::optional<int64_t> runtime = platform::NumberText::parseInt64(arguments[2]);
         if (!sdk || !runtime) return badArgument("SDKVERSION and RUNTIME must be integers");
         result(settings()->remoteConfigURLWithPlatform(arguments[0], *sdk, *runtime).value_or("nil"));
         return 0;
       }},
      {"sztm", 0, "sztm",
       [](const std::vector<std::string>&) {
         std::shared_ptr<APMRemoteConfig> config = settings();
         std::optional<platform::Dictionary> headers = config->SZTMUploadHTTPHeaders();
         result("enabled=" + yesNo(config->SZTMUploadEnabled()) + " url=" + config->SZTMUploadURL().value_or("nil") +
                " headers=" + (headers ? compactJson(platform::Value(*headers)) : std::string("nil")));
         return 0;
       }},
      {"persisted-set", 2, "persisted-set KEY JSON",
       [](const std::vector<std::string>& arguments) {
         std::string error;
         std::optional<platform::Value> json = parseJsonArgument(arguments[1], error);
         std::shared_ptr<APMPersistedConfig> config = sharedPersistedConfig();
         if (!json || !config) return badArgument("JSON must be a string, a number or an object");
         const std::string& key = arguments[0];
         if (const std::string* text = json->asString()) {
           config->setString(*text, key);
         } else if (json->isInteger()) {
           config->setInt64(json->longLongValue(), key);
         } else if (json->isNumber()) {
           config->setDouble(json->doubleValue(), key);
         } else if (std::optional<platform::Dictionary> object = json->asDictionary()) {
           config->setDictionary(*object, key);
         } else {
           return badArgument("JSON must be a string, a number or an object");
         }
         result("ok");
         return 0;
       }},
      {"persisted-get", 1, "persisted-get KEY",
       [](const std::vector<std::string>& arguments) {
         std::shared_ptr<APMPersistedConfig> config = sharedPersistedConfig();
         if (!config) return badArgument("no persisted configuration");
         if (arguments[0] == "midnight") {
           result(compactJson(platform::Value(config->midnightOffset())));
           return 0;
         }
         std::optional<platform::Value> value = config->numberForKey(arguments[0]);
         result(value ? compactJson(*value) : "nil");
         return 0;
       }},
      {"persisted-writes", 0, "persisted-writes",
       [](const std::vector<std::string>&) {
         std::shared_ptr<APMPersistedConfig> config = sharedPersistedConfig();
         auto dictionary = config ? std::dynamic_pointer_cast<APMPersistentDictionary>(config->userDefaults()) : nullptr;
         if (dictionary) dictionary->serialQueue().sync([] {});
         result("writes " + std::to_string(APMPersistentDictionary::writeCount()));
         return 0;
       }},
      {"identity", 0, "identity",
       [](const std::vector<std::string>&) {
         sharedPersistedConfig();
         std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
         if (!identity) return badArgument("no identity");
         identity->updateIdentifiersAndWait();
         auto number = [](const std::optional<int32_t>& value) {
           return value ? std::to_string(*value) : std::string("none");
         };
         result("appInstanceID=" + identity->appInstanceID().value_or("nil") +
                " status=" + std::to_string(identity->appleConsentStatus()) +
                " appIDFromVOD=" + identity->appIDFromVOD().value_or("nil") +
                " appVersion=" + identity->appVersion().value_or("nil") +
                " major=" + number(identity->appVersionMajor()) + " minor=" + number(identity->appVersionMinor()) +
                " release=" + number(identity->appVersionRelease()) + " diversionKey=" + identity->diversionKey());
         return 0;
       }},
      {"version-fields", 1, "version-fields TEXT",
       [](const std::vector<std::string>& arguments) {
         platform::Array fields;
         for (int32_t field : APMIdentity::numericFieldsFromAppVersionNumeric(arguments[0])) fields.append(field);
         result(compactJson(platform::Value(fields)));
         return 0;
       }},
      {"session-token", 3, "session-token NUMBER EXPIRED USERID",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> number = platform::NumberText::parseInt64(arguments[0]);
         std::optional<bool> expired = flagArgument(arguments[1]);
         std::optional<bool> userID = flagArgument(arguments[2]);
         if (!number || !expired || !userID) return badArgument("NUMBER is an integer, EXPIRED and USERID 0 or 1");
         sharedPersistedConfig();
         std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
         if (!identity) return badArgument("no identity");
         result(identity->sessionStitchingTokenWithSessionNumber(*number, *expired, *userID).value_or("nil"));
         return 0;
       }},
      {"ad-event-id", 0, "ad-event-id",
       [](const std::vector<std::string>&) {
         result(APMIdentifiers::sharedInstance()->adEventID());
         return 0;
       }},
      {"products", 1, "products ID,ID,...",
       [](const std::vector<std::string>& arguments) {
         std::vector<std::string> identifiers = splitList(arguments[0]);
         platform::SerialQueue answers("sdk-probe.products");
         std::mutex mutex;
         std::condition_variable answered;
         std::optional<std::string> line;
         APMProductsRequest::requestProductsWithProductIdentifiers(
             std::set<std::string>(identifiers.begin(), identifiers.end()), platform::DispatchQueue(answers),
             [&](const std::optional<APMProductsRequest::Products>& products,
                 const std::optional<APMProductsRequest::InvalidIdentifiers>& invalid,
                 const std::optional<platform::Error>& error) {
               std::string text;
               if (error) {
                 text = "error " + error->domain + " " + std::to_string(error->code) + " " +
                        error->localizedDescription();
               } else {
                 std::vector<std::string> found;
                 if (products) {
                   for (const auto& entry : *products) found.push_back(entry.first);
                 }
                 text = "products " + joined(found) + " invalid " +
                        joined(invalid.value_or(APMProductsRequest::InvalidIdentifiers()));
               }
               std::lock_guard lock(mutex);
               line = text;
               answered.notify_all();
             });
         std::unique_lock lock(mutex);
         if (!answered.wait_for(lock, std::chrono::duration<double>(kProbeWaitSeconds), [&] { return line.has_value(); })) {
           result("error: no answer from the store");
           return 1;
         }
         result(*line);
         return 0;
       }},
  };
  for (Subcommand& subcommand : subcommands) subcommand.run = run(subcommand.run);
  return subcommands;
}

}  // namespace sdkprobe
