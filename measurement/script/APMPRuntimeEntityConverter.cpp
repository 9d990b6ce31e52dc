#include "measurement/script/APMPRuntimeEntityConverter.h"

#include <cmath>
#include <limits>
#include <unordered_set>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/text/Unicode.h"

namespace {

// The text of a string slot (ill-formed UTF-8 read as U+FFFD); none when absent.
std::optional<std::u16string> textOf(const NANOMessageBase& entity, int32_t slot) {
  if (!APMPBHasField(&entity, slot)) return std::nullopt;
  const std::optional<platform::Bytes> bytes = APMPBGetBytes(&entity, slot);
  if (!bytes) return std::u16string();
  return platform::Unicode::toUtf16(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

APMPValuePtr convertEntity(const NANOMessageBase& entity, int depth, APMPError& error);

APMPValuePtr convertStatement(const NANOMessageBase& entity, int depth, APMPError& error) {
  std::optional<std::u16string> name = textOf(entity, APMPBRuntimeEntitySlot::kFunctionName);
  if (!name) {
    error.set(kAPMPErrorMissingCommandName);
    return APMPUndefined();
  }
  APMPValueList arguments;
  for (const APMPBMessageView& child : APMPBGetMessageViews(&entity, APMPBRuntimeEntitySlot::kValue)) {
    arguments.push_back(convertEntity(child, depth + 1, error));
    if (error) return APMPUndefined();
  }
  return std::make_shared<APMPStatementValue>(std::move(*name), std::move(arguments));
}

APMPValuePtr convertEntity(const NANOMessageBase& entity, int depth, APMPError& error) {
  if (depth > APMPRuntimeEntityConverter::kMaxDepth) {
    error.set(kAPMPErrorInvalidEntity);
    return APMPUndefined();
  }
  switch (APMPBGetInt32(&entity, APMPBRuntimeEntitySlot::kKind)) {
    case APMPRuntimeEntityConverter::kStringKind:
      return APMPRuntimeEntityConverter::stringValueFromRuntimeEntity(entity);
    case APMPRuntimeEntityConverter::kNumberKind:
      return APMPRuntimeEntityConverter::numberValueFromRuntimeEntity(entity);
    case APMPRuntimeEntityConverter::kBooleanKind:
      return APMPRuntimeEntityConverter::booleanValueFromRuntimeEntity(entity);
    case APMPRuntimeEntityConverter::kStatementKind:
      return convertStatement(entity, depth, error);
    default:
      error.set(kAPMPErrorInvalidEntity);
      return APMPUndefined();
  }
}

APMPValuePtr fromObject(const platform::Value& object, const APMPScope& scope, int depth, APMPError& error) {
  if (depth > APMPRuntimeEntityConverter::kMaxDepth) {
    error.set(kAPMPErrorNoRuntimeValue);
    return APMPUndefined();
  }
  switch (object.type()) {
    case platform::ValueType::Null:
      return APMPNull();
    case platform::ValueType::Bool:
      return APMPBoolean(*object.asBool());
    case platform::ValueType::Number: {
      const platform::NumberKind kind = *object.numberKind();
      if (kind == platform::NumberKind::Int8 || kind == platform::NumberKind::UInt8) {
        return APMPBoolean(object.longLongValue() != 0);
      }
      return APMPNumber(object.doubleValue());
    }
    case platform::ValueType::String:
      return APMPStringValue::checkedValueWithString(platform::Unicode::toUtf16(*object.asString()), error);
    case platform::ValueType::Dictionary: {
      std::shared_ptr<APMPMapValue> map = APMPObjectManager::mapValueWithScope(scope);
      const platform::Dictionary entries = *object.asDictionary();
      for (const auto& [key, value] : entries) {
        APMPValuePtr converted = fromObject(value, scope, depth + 1, error);
        if (error) return APMPUndefined();
        map->setValueForProperty(std::move(converted), platform::Unicode::toUtf16(key));
      }
      return map;
    }
    case platform::ValueType::Array: {
      const platform::Array items = *object.asArray();
      if (items.size() > APMPRuntimeValue::kMaxArrayLength) {
        error.set(kAPMPErrorArgumentKind);
        return APMPUndefined();
      }
      APMPValueList elements;
      elements.reserve(items.size());
      for (const platform::Value& item : items) {
        elements.push_back(fromObject(item, scope, depth + 1, error));
        if (error) return APMPUndefined();
      }
      return APMPObjectManager::arrayValueWithArray(std::move(elements), scope);
    }
    default:
      error.set(kAPMPErrorNoRuntimeValue);
      return APMPUndefined();
  }
}

class PlainConverter {
 public:
  explicit PlainConverter(APMPError& error) : m_error(error) {}

  platform::Value object(const APMPValuePtr& value, int depth) {
    switch (value->kind()) {
      case APMPValueKind::Null:
        return {};
      case APMPValueKind::Undefined:
        return platform::Value("");
      case APMPValueKind::Map: {
        platform::Dictionary dictionary = this->dictionary(static_cast<const APMPMapValue&>(*value), depth);
        return m_error ? platform::Value() : platform::Value(dictionary);
      }
      case APMPValueKind::Array: {
        const auto& array = static_cast<const APMPArrayValue&>(*value);
        if (!enter(&array, depth)) return {};
        platform::Array items;
        for (const APMPValuePtr& element : array.allElements()) {
          platform::Value item = object(element, depth + 1);
          if (m_error) return {};
          if (!item.isNull()) items.append(std::move(item));
        }
        m_active.erase(&array);
        return platform::Value(items);
      }
      default: {
        const double number = value->doubleValueOrError(m_error);
        if (m_error) return {};
        if (!std::isnan(number)) return platform::Value(number);
        const std::u16string text = value->stringValueOrError(m_error);
        if (m_error) return {};
        return platform::Value(platform::Unicode::toUtf8(text));
      }
    }
  }

  platform::Dictionary dictionary(const APMPMapValue& map, int depth) {
    platform::Dictionary dictionary;
    if (!enter(&map, depth)) return dictionary;
    map.properties().forEach([&](const std::u16string& name, const APMPValuePtr& value) {
      if (m_error) return;
      platform::Value converted = object(value, depth + 1);
      if (m_error || converted.isNull()) return;
      dictionary.set(platform::Unicode::toUtf8(name), std::move(converted));
    });
    m_active.erase(&map);
    return dictionary;
  }

 private:
  // NO with error 10 for a value met again inside itself or nested too deep.
  bool enter(const APMPRuntimeValue* container, int depth) {
    if (depth > APMPRuntimeEntityConverter::kMaxDepth || !m_active.insert(container).second) {
      m_error.set(kAPMPErrorArgumentKind);
      return false;
    }
    return true;
  }

  APMPError& m_error;
  std::unordered_set<const APMPRuntimeValue*> m_active;
};

}  // namespace

APMPValuePtr APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(const NANOMessageBase& entity,
                                                                       APMPError& error) {
  return convertEntity(entity, 0, error);
}

APMPValuePtr APMPRuntimeEntityConverter::stringValueFromRuntimeEntity(const NANOMessageBase& entity) {
  return APMPString(textOf(entity, APMPBRuntimeEntitySlot::kStringValue).value_or(std::u16string()));
}

APMPValuePtr APMPRuntimeEntityConverter::numberValueFromRuntimeEntity(const NANOMessageBase& entity) {
  if (!APMPBHasField(&entity, APMPBRuntimeEntitySlot::kNumberValue)) return APMPNumber(std::numeric_limits<double>::quiet_NaN());
  return APMPNumber(APMPBGetDouble(&entity, APMPBRuntimeEntitySlot::kNumberValue));
}

APMPValuePtr APMPRuntimeEntityConverter::booleanValueFromRuntimeEntity(const NANOMessageBase& entity) {
  return APMPBoolean(APMPBHasField(&entity, APMPBRuntimeEntitySlot::kBoolValue) && APMPBGetBool(&entity, APMPBRuntimeEntitySlot::kBoolValue));
}

APMPValuePtr APMPRuntimeEntityConverter::statementValueFromRuntimeEntity(const NANOMessageBase& entity,
                                                                        APMPError& error) {
  return convertStatement(entity, 0, error);
}

APMPValuePtr APMPRuntimeEntityConverter::runtimeValueFromNSObject(const platform::Value& object, const APMPScope& scope,
                                                                  APMPError& error) {
  return fromObject(object, scope, 0, error);
}

platform::Value APMPRuntimeEntityConverter::objectFromRuntimeValue(const APMPValuePtr& value, APMPError& error) {
  return PlainConverter(error).object(value, 0);
}

platform::Dictionary APMPRuntimeEntityConverter::dictionaryFromMapValue(const APMPMapValue& map, APMPError& error) {
  return PlainConverter(error).dictionary(map, 0);
}
