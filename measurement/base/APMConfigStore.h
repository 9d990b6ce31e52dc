// APMConfigStore: the key-value store protocol of the measurement engine,
// implemented by APMUserDefaults (preference suites) and
// APMPersistentDictionary (a property-list file of its own).
//
// Keys are non-empty strings. Values are property-list objects: strings,
// numbers (bools included), arrays, dictionaries, dates and data. Setting a
// null value removes the key. Typed number getters answer the stored number's
// value and 0 / NO for anything else (a stored string is not converted); the
// object getters answer the object only when it is of that kind.
//
// Thread safety: implementations may be used from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/values/Value.h"

class APMConfigStore {
 public:
  virtual ~APMConfigStore() = default;

  virtual std::optional<platform::Value> objectForKey(const std::string& key) = 0;
  std::optional<platform::Array> arrayForKey(const std::string& key);
  std::optional<platform::Dictionary> dictionaryForKey(const std::string& key);
  std::optional<std::string> stringForKey(const std::string& key);
  // Numbers and bools.
  std::optional<platform::Value> numberForKey(const std::string& key);
  int64_t integerForKey(const std::string& key);
  float floatForKey(const std::string& key);
  double doubleForKey(const std::string& key);
  bool boolForKey(const std::string& key);

  virtual void setObject(const platform::Value& object, const std::string& key) = 0;
  void setFloat(float value, const std::string& key) { setObject(platform::Value(value), key); }
  void setDouble(double value, const std::string& key) { setObject(platform::Value(value), key); }
  void setInteger(int64_t value, const std::string& key) { setObject(platform::Value(static_cast<long long>(value)), key); }
  void setBool(bool value, const std::string& key) { setObject(platform::Value(value), key); }
  void removeObjectForKey(const std::string& key) { setObject(platform::Value(), key); }

  virtual void clearAllData() = 0;
  virtual void synchronize() = 0;

  // The value kinds a store accepts (see above), containers checked all the
  // way down, so that one bad element can never make a whole file unwritable.
  static bool isAllowedValue(const platform::Value& value);
};
