// ZULUserDefaults: a user-defaults suite that refuses bad keys and values
// with a warning line (utilities logger, codes I-ZUL000001..3). Accepted
// values: string, number (bools included), array, dictionary, date and data.
// A null value removes the key. The setters return false when the change was
// refused or could not be written (see platform::UserDefaults), so a store
// can report it to its caller.
//
// A non-empty suite name opens that suite; an empty name uses the standard
// user defaults.
//
// Thread safety: as the underlying suite: any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/storage/UserDefaults.h"
#include "platform/values/Value.h"

class ZULUserDefaults {
 public:
  static std::shared_ptr<ZULUserDefaults> standardUserDefaults();

  ZULUserDefaults();
  explicit ZULUserDefaults(const std::string& suiteName);

  // The suite object (looked up on each call, so the wrapper follows the
  // process's suite table).
  std::shared_ptr<platform::UserDefaults> userDefaults() const;

  std::optional<platform::Value> objectForKey(const std::string& key) const;
  bool setObject(const platform::Value& object, const std::string& key);
  bool removeObjectForKey(const std::string& key) { return setObject(platform::Value(), key); }

  int64_t integerForKey(const std::string& key) const;
  float floatForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  // The stored object whatever its kind.
  std::optional<platform::Value> stringForKey(const std::string& key) const { return objectForKey(key); }
  std::optional<platform::Value> arrayForKey(const std::string& key) const { return objectForKey(key); }
  std::optional<platform::Value> dictionaryForKey(const std::string& key) const { return objectForKey(key); }

  bool setInteger(int64_t value, const std::string& key) {
    return setObject(platform::Value(static_cast<long long>(value)), key);
  }
  bool setFloat(float value, const std::string& key) { return setObject(platform::Value(value), key); }
  bool setDouble(double value, const std::string& key) { return setObject(platform::Value(value), key); }
  bool setBool(bool value, const std::string& key) { return setObject(platform::Value(value), key); }

 private:
  std::string m_suiteName;
};
