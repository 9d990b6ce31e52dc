#include "sdk/core/RIROptions.h"

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "platform/storage/PropertyList.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRBundleUtil.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/utilities/ZULBundleAccess.h"

namespace {

constexpr const char* kLockedReason =
    "Attempted to modify options after it's set on RIRApp. Please modify all properties before initializing RIRApp.";

struct Defaults {
  std::mutex mutex;
  bool dictionaryDone = false;
  std::optional<platform::Dictionary> dictionary;
  bool optionsDone = false;
  std::shared_ptr<RIROptions> options;
};

Defaults& defaults() {
  static auto* d = new Defaults();
  return *d;
}

std::optional<platform::Dictionary> readDefaultDictionaryLocked(Defaults& d) {
  if (d.dictionaryDone) return d.dictionary;
  d.dictionaryDone = true;
  auto path = RIROptions::plistFilePathWithName(RIROptions::kServiceInfoFileName);
  if (!path) return std::nullopt;
  auto read = platform::PropertyList::readDictionary(*path);
  if (!read.ok()) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000011",
                    std::string("The configuration file is not a dictionary: '") + RIROptions::kServiceInfoFileName +
                        "." + RIROptions::kServiceInfoFileType + "'.");
    return std::nullopt;
  }
  d.dictionary = read.value();
  return d.dictionary;
}

const char* const kAnalyticsKeys[] = {RIROptions::kIsMeasurementEnabled, RIROptions::kAnalyticsCollectionEnabled,
                                      RIROptions::kAnalyticsCollectionDeactivated};

}  // namespace

RIROptions::RIROptions(platform::Dictionary dictionary) : m_optionsDictionary(dictionary.copy()) {}

RIROptions::RIROptions(const RIROptions& other) : m_optionsDictionary(other.m_optionsDictionary.copy()) {
  setAppGroupID(other.m_appGroupID);
  m_editingLocked = other.m_editingLocked;
  m_usingOptionsFromDefaultPlist = other.m_usingOptionsFromDefaultPlist;
}

std::shared_ptr<RIROptions> RIROptions::defaultOptions() {
  Defaults& d = defaults();
  std::lock_guard lock(d.mutex);
  if (d.optionsDone) return d.options;
  d.optionsDone = true;
  if (auto dictionary = readDefaultDictionaryLocked(d)) d.options = initInternalWithOptionsDictionary(*dictionary);
  return d.options;
}

std::optional<platform::Dictionary> RIROptions::defaultOptionsDictionary() {
  Defaults& d = defaults();
  std::lock_guard lock(d.mutex);
  return readDefaultDictionaryLocked(d);
}

std::optional<std::string> RIROptions::plistFilePathWithName(const std::string& name) {
  auto path = RIRBundleUtil::optionsDictionaryPathWithResourceName(name, kServiceInfoFileType,
                                                                  RIRBundleUtil::relevantBundles());
  if (!path) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000012",
                    "Could not locate configuration file: '" + name + "." + kServiceInfoFileType + "'.");
  }
  return path;
}

void RIROptions::resetDefaultOptions() {
  Defaults& d = defaults();
  std::lock_guard lock(d.mutex);
  d.dictionaryDone = false;
  d.dictionary.reset();
  d.optionsDone = false;
  d.options.reset();
}

std::shared_ptr<RIROptions> RIROptions::initInternalWithOptionsDictionary(const platform::Dictionary& dictionary) {
  auto options = std::make_shared<RIROptions>(dictionary);
  options->m_usingOptionsFromDefaultPlist = true;
  return options;
}

std::shared_ptr<RIROptions> RIROptions::initWithContentsOfFile(const std::optional<std::string>& path) {
  if (!path) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000013", "The plist file path is nil.");
    return nullptr;
  }
  auto read = platform::PropertyList::readDictionary(*path);
  if (!read.ok()) {
    RIRLogEmitError(RIRLogServiceCore, "I-COR000014",
                    "The configuration file at " + *path + " does not exist or is not a well-formed plist file.");
    return nullptr;
  }
  return std::make_shared<RIROptions>(read.value());
}

std::shared_ptr<RIROptions> RIROptions::initWithZoruvuAppID(const std::optional<std::string>& zoruvuAppID,
                                                            const std::optional<std::string>& ZCMSenderID) {
  platform::Dictionary dictionary;
  if (zoruvuAppID) dictionary.set(kZoruvuAppID, *zoruvuAppID);
  if (ZCMSenderID) dictionary.set(kZCMSenderID, *ZCMSenderID);
  dictionary.set(kBundleID, ZULBundleAccess::bundleIdentifier());
  return std::make_shared<RIROptions>(dictionary);
}

std::optional<std::string> RIROptions::text(const char* key) const {
  if (const std::string* value = m_optionsDictionary[key].asString()) return *value;
  return std::nullopt;
}

void RIROptions::checkEditingLocked() const {
  if (m_editingLocked) platform::Exception::raise("com.ririvudu.core", kLockedReason);
}

void RIROptions::setText(const char* key, std::optional<std::string> value) {
  checkEditingLocked();
  if (value) {
    m_optionsDictionary.set(key, std::move(*value));
  } else {
    m_optionsDictionary.remove(key);
  }
}

void RIROptions::setAppGroupID(std::optional<std::string> value) {
  checkEditingLocked();
  m_appGroupID = std::move(value);
}

std::string RIROptions::libraryVersionID() {
  static const std::string id = [] {
    std::string version = RIRCoreVersionString();
    std::string parts[3];
    size_t start = 0;
    for (int index = 0; index < 3; ++index) {
      size_t dot = version.find('.', start);
      parts[index] = version.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    std::string result;
    for (const std::string& part : parts) {
      char digits[16];
      std::snprintf(digits, sizeof(digits), "%02d", std::atoi(part.c_str()));
      result += digits;
    }
    return result + "000";
  }();
  return id;
}

bool RIROptions::isEqualToOptions(const RIROptions& other) const {
  if (!(platform::Value(m_optionsDictionary) == platform::Value(other.m_optionsDictionary))) return false;
  if ((m_appGroupID || other.m_appGroupID) && m_appGroupID != other.m_appGroupID) return false;
  return platform::Value(analyticsOptionsDictionary()) == platform::Value(other.analyticsOptionsDictionary());
}

size_t RIROptions::hash() const {
  size_t group = m_appGroupID ? std::hash<std::string>()(*m_appGroupID) : 0;
  return platform::Value(m_optionsDictionary).hash() ^ group;
}

platform::Dictionary RIROptions::analyticsOptionsDictionaryWithInfoDictionary(const platform::Dictionary& info) const {
  std::lock_guard lock(m_analyticsMutex);
  if (!m_analyticsOptionsDictionary) {
    platform::Dictionary merged;
    for (const char* key : kAnalyticsKeys) {
      platform::Value value = info.get(key);
      if (value.isNull()) value = m_optionsDictionary.get(key);
      if (!value.isNull()) merged.set(key, value);
    }
    m_analyticsOptionsDictionary = merged;
  }
  return *m_analyticsOptionsDictionary;
}

platform::Dictionary RIROptions::analyticsOptionsDictionary() const {
  {
    std::lock_guard lock(m_analyticsMutex);
    if (m_analyticsOptionsDictionary) return *m_analyticsOptionsDictionary;
  }
  return analyticsOptionsDictionaryWithInfoDictionary(ZULBundleAccess::infoDictionary());
}

bool RIROptions::isAnalyticsCollectionDeactivated() const {
  return analyticsOptionsDictionary().get(kAnalyticsCollectionDeactivated).boolValue();
}

bool RIROptions::isMeasurementEnabled() const {
  if (isAnalyticsCollectionDeactivated()) return false;
  platform::Value value = analyticsOptionsDictionary().get(kIsMeasurementEnabled);
  if (!value.isNull()) return value.boolValue();
  if (auto app = RIRApp::defaultAppIfConfigured()) return app->isDataCollectionDefaultEnabled();
  return false;
}

bool RIROptions::isAnalyticsCollectionEnabled() const {
  if (isAnalyticsCollectionDeactivated()) return false;
  platform::Value value = analyticsOptionsDictionary().get(kAnalyticsCollectionEnabled);
  if (!value.isNull()) return value.boolValue();
  return isMeasurementEnabled();
}

bool RIROptions::isAnalyticsCollectionExplicitlySet() const {
  if (isAnalyticsCollectionDeactivated()) return true;
  platform::Dictionary merged = analyticsOptionsDictionary();
  if (merged.get(kAnalyticsCollectionEnabled).isNumeric()) return true;
  return merged.get(kIsMeasurementEnabled).isNumeric();
}
