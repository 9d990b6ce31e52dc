#include "platform/storage/Preferences.h"

#include "platform/storage/UserDefaults.h"

namespace platform {

std::optional<Value> Preferences::copyValue(const std::string& key, const std::string& domain) {
  return UserDefaults::suite(domain)->object(key);
}

bool Preferences::setValue(const std::string& key, const Value& value, const std::string& domain) {
  return UserDefaults::suite(domain)->set(key, value);
}

std::vector<std::string> Preferences::keyList(const std::string& domain) { return UserDefaults::suite(domain)->keys(); }

bool Preferences::setMultiple(const Dictionary& values, const std::vector<std::string>& keysToRemove,
                              const std::string& domain) {
  return UserDefaults::suite(domain)->setMultiple(values, keysToRemove);
}

bool Preferences::synchronize(const std::string& domain) { return UserDefaults::suite(domain)->synchronize(); }

bool Preferences::removeSuiteFromApp(const std::string& name) { return UserDefaults::removeSuite(name); }

}  // namespace platform
