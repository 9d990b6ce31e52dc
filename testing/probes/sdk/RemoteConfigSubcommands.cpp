// sdk-probe remote configuration subcommands (the default app is configured
// from the bundle's options file when it is not yet; "NAMESPACE" is the bare
// namespace, the probe adds ":" and the default app's name):
//
//   rc-value TEXT             a remote value of TEXT's bytes:
//                             "=> string JSONSTRING", "=> number N",
//                             "=> bool YES|NO", "=> json JSON|nil"
//   rc-db-open                the shared config database, waited for:
//                             "=> ok PATH new=YES|NO"
//   rc-device-context         "=> " the context for the options' app ID as
//                             compact JSON, then "=> preferred LOCALE",
//                             "=> country CC|nil", "=> timezone NAME"
//   rc-body ID TOKEN JSON     the fetch request body of "ririvudu" with that
//                             installation ID and token and the user
//                             properties JSON ({} = none)
//   rc-backoff COUNT          after one successful fetch, COUNT failures,
//                             each printing "=> interval I end +S"
//   rc-ud-set NAMESPACE KEY JSON / rc-ud-get NAMESPACE KEY
//                             the user-defaults store's typed setter /
//                             getter of KEY: "=> ok" / "=> JSON|nil"
//                             ("=> error not written" when the store's
//                             file could not be written)
//   rc-db-rows                the config database as this process finds it
//                             (opened by the shared manager, which plays
//                             back or discards an unfinished transaction):
//                             per table and namespace (config tables) or key
//                             (the others), sorted, one line
//                             "=> TABLE NAME rows=N values=JSON" with the
//                             distinct values as a sorted JSON array of texts
//
// JSON arguments are inline or "@PATH".
#include <sqlite3.h>

#include <functional>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <string>

#include "platform/app/Bundle.h"
#include "platform/text/NumberText.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRApp.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/RCNConfigSettings.h"
#include "sdk/remote-config/RCNDevice.h"
#include "sdk/remote-config/RCNUserDefaultsManager.h"
#include "sdk/remote-config/ZUVUduvedOrovarValue.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Value;

std::shared_ptr<RIRApp> defaultApp() {
  if (!RIRApp::isDefaultAppConfigured()) RIRApp::configure();
  return RIRApp::defaultApp();
}

std::string fullyQualified(const std::string& ririvuduNamespace) {
  return ririvuduNamespace + ":" + defaultApp()->name();
}

std::unique_ptr<RCNConfigSettings> defaultSettings() {
  std::shared_ptr<RIRApp> app = defaultApp();
  return std::make_unique<RCNConfigSettings>(RCNConfigDBManager::sharedInstance(), fullyQualified("ririvudu"),
                                             app->name(), app->options()->zoruvuAppID());
}

std::unique_ptr<RCNUserDefaultsManager> store(const std::string& ririvuduNamespace) {
  std::shared_ptr<RIRApp> app = defaultApp();
  RCNConfigDBManager::sharedInstance()->waitForDatabaseOperationQueue();
  return std::make_unique<RCNUserDefaultsManager>(app->name(), platform::Bundle::main()->bundleIdentifier().value_or(""),
                                                  fullyQualified(ririvuduNamespace));
}

int usageError(const std::string& text) {
  result("usage: " + text);
  return 2;
}

// The typed accessors of the user-defaults store, by key.
struct StoreKey {
  enum class Kind { Text, Number, Integer, Boolean, Dictionary };
  Kind kind;
  std::function<bool(RCNUserDefaultsManager&, const Value&)> set;
  std::function<Value(const RCNUserDefaultsManager&)> get;
};

Value text(const std::optional<std::string>& value) { return value ? Value(*value) : Value(); }
std::optional<std::string> textArgument(const Value& value) {
  return value.isString() ? std::optional<std::string>(*value.asString()) : std::nullopt;
}

const std::map<std::string, StoreKey>& storeKeys() {
  using M = RCNUserDefaultsManager;
  using K = StoreKey::Kind;
  static const std::map<std::string, StoreKey> keys = {
      {M::kLastETagKey, {K::Text, [](M& m, const Value& v) { return m.setLastETag(textArgument(v)); },
                         [](const M& m) { return text(m.lastETag()); }}},
      {M::kTemplateVersionKey, {K::Text, [](M& m, const Value& v) { return m.setLastFetchedTemplateVersion(textArgument(v)); },
                                [](const M& m) { return Value(m.lastFetchedTemplateVersion()); }}},
      {M::kActiveTemplateVersionKey,
       {K::Text, [](M& m, const Value& v) { return m.setLastActiveTemplateVersion(textArgument(v)); },
        [](const M& m) { return Value(m.lastActiveTemplateVersion()); }}},
      {M::kLastFetchStatusKey, {K::Text, [](M& m, const Value& v) { return m.setLastFetchStatus(textArgument(v)); },
                                [](const M& m) { return text(m.lastFetchStatus()); }}},
      {M::kCustomSignalsKey,
       {K::Dictionary,
        [](M& m, const Value& v) {
          std::optional<platform::Dictionary> d = v.asDictionary();
          return m.setCustomSignals(d);
        },
        [](const M& m) { return Value(m.customSignals()); }}},
      {M::kLastETagUpdateTimeKey, {K::Number, [](M& m, const Value& v) { return m.setLastETagUpdateTime(v.doubleValue()); },
                                   [](const M& m) { return Value(m.lastETagUpdateTime()); }}},
      {M::kLastSuccessfulFetchTimeKey, {K::Number, [](M& m, const Value& v) { return m.setLastFetchTime(v.doubleValue()); },
                                        [](const M& m) { return Value(m.lastFetchTime()); }}},
      {M::kIsClientThrottledKey,
       {K::Boolean, [](M& m, const Value& v) { return m.setIsClientThrottledWithExponentialBackoff(v.boolValue()); },
        [](const M& m) { return Value(m.isClientThrottledWithExponentialBackoff()); }}},
      {M::kThrottleEndTimeKey, {K::Number, [](M& m, const Value& v) { return m.setThrottleEndTime(v.doubleValue()); },
                                [](const M& m) { return Value(m.throttleEndTime()); }}},
      {M::kCurrentThrottlingRetryIntervalKey,
       {K::Number, [](M& m, const Value& v) { return m.setCurrentThrottlingRetryIntervalSeconds(v.doubleValue()); },
        [](const M& m) { return Value(m.currentThrottlingRetryIntervalSeconds()); }}},
      {M::kRealtimeRetryCountKey, {K::Integer, [](M& m, const Value& v) { return m.setRealtimeRetryCount(v.intValue()); },
                                   [](const M& m) { return Value(m.realtimeRetryCount()); }}},
      {M::kRealtimeThrottleEndTimeKey,
       {K::Number, [](M& m, const Value& v) { return m.setRealtimeThrottleEndTime(v.doubleValue()); },
        [](const M& m) { return Value(m.realtimeThrottleEndTime()); }}},
      {M::kCurrentRealtimeThrottlingRetryIntervalKey,
       {K::Number, [](M& m, const Value& v) { return m.setCurrentRealtimeThrottlingRetryIntervalSeconds(v.doubleValue()); },
        [](const M& m) { return Value(m.currentRealtimeThrottlingRetryIntervalSeconds()); }}},
  };
  return keys;
}

bool fits(StoreKey::Kind kind, const Value& value) {
  switch (kind) {
    case StoreKey::Kind::Text: return value.isString() || value.isNull();
    case StoreKey::Kind::Number: return value.isNumber();
    case StoreKey::Kind::Integer: return value.exactAs<int32_t>().has_value();
    case StoreKey::Kind::Boolean: return value.isBool();
    case StoreKey::Kind::Dictionary: return value.isDictionary() || value.isNull();
  }
  return false;
}

// Groups the rows of `sql` (name, value) by name: rows and distinct values.
void printGroups(sqlite3* db, const std::string& table, const std::string& sql) {
  std::map<std::string, std::pair<size_t, std::set<std::string>>> groups;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    result(table + " error " + sqlite3_errmsg(db));
    return;
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    auto text = [&](int column) {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
      return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement, column))) : std::string();
    };
    auto& group = groups[text(0)];
    ++group.first;
    group.second.insert(text(1));
  }
  sqlite3_finalize(statement);
  for (const auto& [name, group] : groups) {
    platform::Array values;
    for (const std::string& value : group.second) values.append(Value(value));
    result(table + " " + name + " rows=" + std::to_string(group.first) + " values=" + compactJson(Value(values)));
  }
}

int dbRowsCommand(const std::vector<std::string>&) {
  std::shared_ptr<RCNConfigDBManager> manager = RCNConfigDBManager::sharedInstance();
  manager->waitForDatabaseOperationQueue();
  if (!manager->isOpen()) {
    result("error not open " + manager->databasePath());
    return 1;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(manager->databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    result(std::string("error ") + sqlite3_errmsg(db));
    sqlite3_close(db);
    return 1;
  }
  for (const char* table : {"main", "main_active", "main_default"}) {
    printGroups(db, table, std::string("SELECT namespace, value FROM ") + table);
  }
  printGroups(db, "personalization", "SELECT CAST(key AS TEXT), value FROM personalization");
  printGroups(db, "rollout", "SELECT key, value FROM rollout");
  printGroups(db, "experiment", "SELECT key, value FROM experiment");
  sqlite3_close(db);
  return 0;
}

}  // namespace

std::vector<Subcommand> remoteConfigSubcommands() {
  return {
      {"rc-value", 1, "rc-value TEXT",
       [](const std::vector<std::string>& arguments) {
         ZUVUduvedOrovarValue value(platform::Bytes(arguments[0].begin(), arguments[0].end()),
                                    ZUVUduvedOrovarSourceRemote);
         result("string " + compactJson(Value(value.stringValue())));
         result("number " + platform::NumberText::formatDouble(value.numberValue().doubleValue()));
         result(std::string("bool ") + (value.boolValue() ? "YES" : "NO"));
         std::optional<Value> json = value.JSONValue();
         result("json " + (json ? compactJson(*json) : std::string("nil")));
         return 0;
       }},
      {"rc-db-open", 0, "rc-db-open",
       [](const std::vector<std::string>&) {
         std::shared_ptr<RCNConfigDBManager> manager = RCNConfigDBManager::sharedInstance();
         manager->waitForDatabaseOperationQueue();
         if (!manager->isOpen()) {
           result("error not open " + manager->databasePath());
           return 1;
         }
         result("ok " + manager->databasePath() + " new=" + (manager->isNewDatabase() ? "YES" : "NO"));
         return 0;
       }},
      {"rc-device-context", 0, "rc-device-context",
       [](const std::vector<std::string>&) {
         result(compactJson(Value(DeviceInfoContextWithProjectIdentifier(defaultApp()->options()->zoruvuAppID()))));
         result("preferred " + DeviceInfoPreferredLocale());
         result("country " + DeviceInfoCountryCode().value_or("nil"));
         result("timezone " + DeviceInfoTimeZone());
         return 0;
       }},
      {"rc-body", 3, "rc-body ID TOKEN JSON",
       [](const std::vector<std::string>& arguments) {
         std::string error;
         std::optional<Value> properties = parseJsonArgument(arguments[2], error);
         if (!properties || !properties->isDictionary()) return usageError(error.empty() ? "JSON must be an object" : error);
         std::unique_ptr<RCNConfigSettings> settings = defaultSettings();
         settings->setConfigInstallationsIdentifier(arguments[0]);
         settings->setConfigInstallationsToken(arguments[1]);
         result(settings->nextRequestWithUserProperties(*properties->asDictionary()));
         return 0;
       }},
      {"rc-backoff", 1, "rc-backoff COUNT",
       [](const std::vector<std::string>& arguments) {
         std::optional<int64_t> count = platform::NumberText::parseInt64(arguments[0]);
         if (!count || *count < 0) return usageError("COUNT must be a whole number, at least 0");
         std::unique_ptr<RCNConfigSettings> settings = defaultSettings();
         settings->updateMetadataWithFetchSuccessStatus(true, "0");
         for (int64_t index = 0; index < *count; ++index) {
           const int64_t before = settings->lastFetchStatus();
           settings->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
           settings->updateExponentialBackoffTime(before);
           const double remaining = settings->exponentialBackoffThrottleEndTime() - platform::Clock::current()->now();
           result("interval " + timeText(settings->exponentialBackoffRetryInterval()) + " end +" + timeText(remaining));
         }
         RCNConfigDBManager::sharedInstance()->waitForDatabaseOperationQueue();
         return 0;
       }},
      {"rc-ud-set", 3, "rc-ud-set NAMESPACE KEY JSON",
       [](const std::vector<std::string>& arguments) {
         auto key = storeKeys().find(arguments[1]);
         if (key == storeKeys().end()) return usageError("unknown key '" + arguments[1] + "'");
         std::string error;
         std::optional<Value> value = parseJsonArgument(arguments[2], error);
         if (!value) return usageError(error);
         if (!fits(key->second.kind, *value)) return usageError("a value of another kind for '" + arguments[1] + "'");
         if (!key->second.set(*store(arguments[0]), *value)) {
           result("error not written");
           return 1;
         }
         result("ok");
         return 0;
       }},
      {"rc-db-rows", 0, "rc-db-rows", dbRowsCommand},
      {"rc-ud-get", 2, "rc-ud-get NAMESPACE KEY",
       [](const std::vector<std::string>& arguments) {
         auto key = storeKeys().find(arguments[1]);
         if (key == storeKeys().end()) return usageError("unknown key '" + arguments[1] + "'");
         Value value = key->second.get(*store(arguments[0]));
         result(value.isNull() ? "nil" : compactJson(value));
         return 0;
       }},
  };
}

}  // namespace sdkprobe
