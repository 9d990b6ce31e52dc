#include "sdk/utilities/ZULUserDefaults.h"

#include "sdk/utilities/ZULLogger.h"

namespace {

bool isAcceptedKind(const platform::Value& value) {
  return value.isString() || value.isNumeric() || value.isArray() || value.isDictionary() || value.isDate() ||
         value.isData();
}

}  // namespace

std::shared_ptr<ZULUserDefaults> ZULUserDefaults::standardUserDefaults() {
  static const auto* const shared = new std::shared_ptr<ZULUserDefaults>(std::make_shared<ZULUserDefaults>());
  return *shared;
}

ZULUserDefaults::ZULUserDefaults() : ZULUserDefaults(std::string()) {}

ZULUserDefaults::ZULUserDefaults(const std::string& suiteName) : m_suiteName(suiteName) {}

std::shared_ptr<platform::UserDefaults> ZULUserDefaults::userDefaults() const {
  return m_suiteName.empty() ? platform::UserDefaults::standard() : platform::UserDefaults::suite(m_suiteName);
}

std::optional<platform::Value> ZULUserDefaults::objectForKey(const std::string& key) const {
  if (key.empty()) {
    ZULLogEmitWarning(kZULLoggerSubsystem, "<ZoruvuUtilities>", false, ZULMessageCode("ZUL", 1),
                      "Cannot get object for invalid user default key.");
    return std::nullopt;
  }
  return userDefaults()->object(key);
}

bool ZULUserDefaults::setObject(const platform::Value& object, const std::string& key) {
  if (key.empty()) {
    ZULLogEmitWarning(kZULLoggerSubsystem, "[ZoruvuUtilities/UserDefaults]", false, ZULMessageCode("ZUL", 2),
                      "Cannot set object for invalid user default key.");
    return false;
  }
  if (object.isNull()) {
    return userDefaults()->remove(key);
  }
  if (!isAcceptedKind(object)) {
    ZULLogEmitLazy(ZULLoggerLevelWarning, kZULLoggerSubsystem, "[ZoruvuUtilities/UserDefaults]", false,
                   ZULMessageCode("ZUL", 3), [&] {
                     return "Cannot set invalid object to user defaults. Must be a string, number, array, "
                            "dictionary, date, or data. Value: " +
                            object.description();
                   });
    return false;
  }
  return userDefaults()->set(key, object);
}

int64_t ZULUserDefaults::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->integerValue() : 0;
}

float ZULUserDefaults::floatForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->floatValue() : 0.0f;
}

double ZULUserDefaults::doubleForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->doubleValue() : 0.0;
}

bool ZULUserDefaults::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->boolValue() : false;
}
