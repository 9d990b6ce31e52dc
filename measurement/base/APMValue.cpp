#include "measurement/base/APMValue.h"

#include <typeinfo>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"

namespace {

void report(int64_t code, const char* message) { APMEngineServices::monitor()->logWithLevel(0, code, message); }

void report(int64_t code, const char* message, const platform::Value& value) {
  APMEngineServices::monitor()->logWithLevel(0, code, message, value);
}

}  // namespace

APMValue::APMValue(int64_t valueType, platform::Value value) : m_valueType(valueType), m_value(std::move(value)) {}

APMValuePtr APMValue::initWithDouble(double value) { return std::make_shared<APMValue>(kDouble, platform::Value(value)); }

APMValuePtr APMValue::initWithInt64(int64_t value) {
  return std::make_shared<APMValue>(kInt64, platform::Value(static_cast<long long>(value)));
}

APMValuePtr APMValue::initWithString(const platform::Value& value) {
  if (value.isNull()) {
    report(35002, "Cannot create String value with nil");
    return nullptr;
  }
  if (!value.isString()) {
    report(35003, "Cannot create String value with non-string value. Value", value);
    return nullptr;
  }
  return std::make_shared<APMValue>(kString, value);
}

APMValuePtr APMValue::initWithArray(const platform::Value& value) {
  if (value.isNull()) {
    report(35004, "Cannot create Array value with nil");
    return nullptr;
  }
  std::optional<platform::Array> array = value.asArray();
  if (!array) {
    report(35005, "Cannot create Array value with non-array value. Value", value);
    return nullptr;
  }
  platform::Array copies;
  copies.reserve(array->size());
  for (const platform::Value& element : array->items()) copies.append(element.copy());
  return std::make_shared<APMValue>(kArray, platform::Value(copies));
}

APMValuePtr APMValue::valueFromObject(const platform::Value& object, bool allowArray) {
  if (object.isNull()) {
    report(35000, "Cannot create Value type with nil value");
    return nullptr;
  }
  if (APMValuePtr value = fromObject(object)) return value;
  if (object.isString()) return initWithString(object);
  if (object.isNumeric()) {
    if (object.isFloatingNumber()) return initWithDouble(object.doubleValue());
    return initWithInt64(object.longLongValue());
  }
  if (allowArray && object.isArray()) return initWithArray(object);
  report(35001,
         "Cannot create Value type with unsupported value. The Value has to be NSNumber, NSString or NSArray "
         "(if supported). Value",
         object);
  return nullptr;
}

double APMValue::doubleValue() const { return isDouble() ? m_value.doubleValue() : 0; }

int64_t APMValue::int64Value() const { return isInt64() ? m_value.longLongValue() : 0; }

std::optional<std::string> APMValue::stringValue() const {
  if (!isString() || !m_value.isString()) return std::nullopt;
  return *m_value.asString();
}

std::optional<platform::Array> APMValue::arrayValue() const {
  if (!isArray()) return std::nullopt;
  return m_value.asArray();
}

std::string APMValue::description() const { return descriptionOfObject(m_value); }

namespace {

std::string describe(const platform::Value& object, bool nested) {
  if (APMValuePtr value = APMValue::fromObject(object)) return value->description();
  if (std::optional<platform::Dictionary> dictionary = object.asDictionary()) {
    std::string text = "{";
    for (const auto& [key, value] : *dictionary) {
      if (text.size() > 1) text += ", ";
      text += "\"" + key + "\": " + describe(value, true);
    }
    return text + "}";
  }
  if (std::optional<platform::Array> array = object.asArray()) {
    std::string text = "[";
    for (size_t index = 0; index < array->size(); ++index) {
      if (index > 0) text += ", ";
      text += describe((*array)[index], true);
    }
    return text + "]";
  }
  if (nested && object.isString()) return "\"" + *object.asString() + "\"";
  return object.description();
}

}  // namespace

std::string APMValue::descriptionOfObject(const platform::Value& object) { return describe(object, false); }

APMValuePtr APMValue::copy() const { return std::make_shared<APMValue>(m_valueType, m_value); }

bool APMValue::isEqual(const APMValue& other) const {
  return typeid(other) == typeid(APMValue) && m_valueType == other.m_valueType && m_value == other.m_value;
}

size_t APMValue::hash() const { return static_cast<size_t>(m_valueType * 31) ^ m_value.hash(); }

platform::Value APMValue::toObject(APMValuePtr value) {
  if (!value) return platform::Value();
  return platform::Value::opaque<const APMValue>(std::move(value), "APMValue");
}

platform::Value APMValue::objectWithDouble(double value) { return toObject(initWithDouble(value)); }

platform::Value APMValue::objectWithInt64(int64_t value) { return toObject(initWithInt64(value)); }

platform::Value APMValue::objectWithString(std::string value) {
  return toObject(std::make_shared<APMValue>(kString, platform::Value(std::move(value))));
}

APMValuePtr APMValue::fromObject(const platform::Value& object) { return object.asOpaque<const APMValue>(); }
