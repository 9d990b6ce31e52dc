// Preferences: the domain-and-key API over user-defaults suites.
//
// A domain is a suite name; kCurrentApplication (or "") is the application's
// own suite (UserDefaults::standard()). Values are the same objects as
// through UserDefaults, so both views agree at all times.
//
// Thread safety: as UserDefaults.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/values/Value.h"

namespace platform {

class Preferences {
 public:
  static constexpr const char* kCurrentApplication = "";

  static std::optional<Value> copyValue(const std::string& key, const std::string& domain = kCurrentApplication);
  // A null value removes the key. False when the value cannot be stored.
  static bool setValue(const std::string& key, const Value& value, const std::string& domain = kCurrentApplication);
  static std::vector<std::string> keyList(const std::string& domain = kCurrentApplication);
  static bool setMultiple(const Dictionary& values, const std::vector<std::string>& keysToRemove,
                          const std::string& domain = kCurrentApplication);
  static bool synchronize(const std::string& domain = kCurrentApplication);
  static bool removeSuiteFromApp(const std::string& name);
};

}  // namespace platform
