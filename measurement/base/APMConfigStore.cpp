#include "measurement/base/APMConfigStore.h"

std::optional<platform::Array> APMConfigStore::arrayForKey(const std::string& key) {
  std::optional<platform::Value> object = objectForKey(key);
  return object ? object->asArray() : std::nullopt;
}

std::optional<platform::Dictionary> APMConfigStore::dictionaryForKey(const std::string& key) {
  std::optional<platform::Value> object = objectForKey(key);
  return object ? object->asDictionary() : std::nullopt;
}

std::optional<std::string> APMConfigStore::stringForKey(const std::string& key) {
  std::optional<platform::Value> object = objectForKey(key);
  if (!object || !object->isString()) return std::nullopt;
  return *object->asString();
}

std::optional<platform::Value> APMConfigStore::numberForKey(const std::string& key) {
  std::optional<platform::Value> object = objectForKey(key);
  if (!object || !object->isNumeric()) return std::nullopt;
  return object;
}

int64_t APMConfigStore::integerForKey(const std::string& key) {
  std::optional<platform::Value> number = numberForKey(key);
  return number ? number->longLongValue() : 0;
}

float APMConfigStore::floatForKey(const std::string& key) {
  std::optional<platform::Value> number = numberForKey(key);
  return number ? number->floatValue() : 0;
}

double APMConfigStore::doubleForKey(const std::string& key) {
  std::optional<platform::Value> number = numberForKey(key);
  return number ? number->doubleValue() : 0;
}

bool APMConfigStore::boolForKey(const std::string& key) {
  std::optional<platform::Value> number = numberForKey(key);
  return number ? number->boolValue() : false;
}

bool APMConfigStore::isAllowedValue(const platform::Value& value) {
  switch (value.type()) {
    case platform::ValueType::String:
    case platform::ValueType::Bool:
    case platform::ValueType::Number:
    case platform::ValueType::Date:
    case platform::ValueType::Data:
      return true;
    case platform::ValueType::Array: {
      const platform::Array array = *value.asArray();
      for (const platform::Value& element : array) {
        if (!isAllowedValue(element)) return false;
      }
      return true;
    }
    case platform::ValueType::Dictionary: {
      const platform::Dictionary dictionary = *value.asDictionary();
      for (const auto& entry : dictionary) {
        if (!isAllowedValue(entry.second)) return false;
      }
      return true;
    }
    default:
      return false;
  }
}
