#include "measurement/base/APMEvent.h"

#include <cfloat>
#include <cmath>
#include <string_view>
#include <typeinfo>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDebugNames.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMNameTables.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMValue.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBWireWriter.h"

namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

Dictionary shallowCopy(const Dictionary& source) {
  Dictionary copy;
  for (const auto& [key, value] : source) copy.set(key, value);
  return copy;
}

// The APMValue a parameter holds (APMValue::fromObject without taking a
// reference: the dictionary keeps it alive), or nullptr.
const APMValue* valueIn(const Value& object) {
  const platform::Opaque* payload = object.asOpaque();
  if (payload == nullptr || payload->type == nullptr || *payload->type != typeid(const APMValue)) return nullptr;
  return static_cast<const APMValue*>(payload->object.get());
}

// Where the Event message's fields go: into a message through the field
// operations, or straight into its wire form. Both take the same calls;
// item() runs fill on a new item of a repeated message slot.
class MessageSink {
 public:
  explicit MessageSink(NANOMessageBase* message) : m_message(message) {}
  void setString(int32_t slot, std::string_view text) { APMPBSetString(m_message, slot, text); }
  void setInt64(int32_t slot, int64_t value) { APMPBSetInt64(m_message, slot, value); }
  void setDouble(int32_t slot, double value) { APMPBSetDouble(m_message, slot, value); }
  template <class Fill>
  void item(int32_t slot, const Fill& fill) {
    if (std::optional<APMPBMessageView> view = APMPBAppendMessage(m_message, slot)) {
      MessageSink child(&*view);
      fill(child);
    }
  }

 private:
  NANOMessageBase* m_message;
};

class WireSink {
 public:
  explicit WireSink(APMPBWireWriter& writer) : m_writer(writer) {}
  void setString(int32_t slot, std::string_view text) { m_writer.setString(slot, text); }
  void setInt64(int32_t slot, int64_t value) { m_writer.setInt64(slot, value); }
  void setDouble(int32_t slot, double value) { m_writer.setDouble(slot, value); }
  template <class Fill>
  void item(int32_t slot, const Fill& fill) {
    if (!m_writer.beginMessage(slot)) return;
    fill(*this);
    m_writer.endMessage();
  }

 private:
  APMPBWireWriter& m_writer;
};

// The parameter encoding: one EventParam per entry, an item of the repeated
// field at slot. Every field goes in ascending tag order (as the wire form
// has them).
template <class Sink>
void encodeParameters(Sink& sink, int32_t slot, const Dictionary& parameters, const std::string& eventName,
                      bool nested) {
  for (const auto& entry : parameters) {
    const std::string& key = entry.first;
    const APMValue* value = valueIn(entry.second);
    // A value whose kind and contents disagree has nothing to encode either.
    const std::string* text = value != nullptr && value->isString() ? value->value().asString() : nullptr;
    const std::optional<Array> items = value != nullptr && value->isArray() ? value->arrayValue() : std::nullopt;
    if (value == nullptr || (value->isString() && text == nullptr) || (value->isArray() && !items)) {
      monitor()->logWithLevel(2, 16005, "Invalid event param value. Event name, param name",
                              APMDebugEventName(Value(eventName)), APMDebugParameterName(Value(key)));
      continue;
    }
    if (value->isArray() && nested) {
      monitor()->logWithLevel(2, 16007, "Nested params cannot have more than 1 level. Event name, param name",
                              APMDebugEventName(Value(eventName)), APMDebugParameterName(Value(key)));
      continue;
    }
    sink.item(slot, [&](Sink& param) {
      param.setString(APMPBEventParamSlot::kName, key);
      if (value->isDouble()) {
        param.setDouble(APMPBEventParamSlot::kDoubleValue, value->doubleValue());
      } else if (value->isInt64()) {
        param.setInt64(APMPBEventParamSlot::kIntValue, value->int64Value());
      } else if (text != nullptr) {
        param.setString(APMPBEventParamSlot::kStringValue, *text);
      } else {
        for (const Value& element : *items) {
          std::optional<Dictionary> fields = element.asDictionary();
          if (!fields) continue;
          param.item(APMPBEventParamSlot::kParamValue, [&](Sink& item) {
            encodeParameters(item, APMPBEventParamSlot::kParamValue, *fields, eventName, true);
          });
        }
      }
    });
  }
}

// The Event message of an event, in ascending tag order.
template <class Sink>
void encodeEvent(Sink& sink, const std::string& name, double timestamp, double previousTimestamp,
                 const Dictionary& parameters, bool withName) {
  encodeParameters(sink, APMPBEventSlot::kParams, parameters, name, false);
  if (withName) sink.setString(APMPBEventSlot::kName, name);
  sink.setInt64(APMPBEventSlot::kTimestamp, APMMillisecondsFromSeconds(timestamp));
  if (previousTimestamp > DBL_EPSILON) {
    sink.setInt64(APMPBEventSlot::kPreviousTimestamp, APMMillisecondsFromSeconds(previousTimestamp));
  }
}

// Room for an event's fields and parameters in its message's block: enough
// for the common small parameters (what does not fit lives apart).
size_t eventBlockRoom(const Dictionary& parameters) {
  constexpr size_t kPerParameter = 192;
  constexpr size_t kFields = 64;
  return kFields + parameters.size() * kPerParameter;
}

// An APMValue as the plain object of the editable event; null when it has
// none (arrays only at the top level).
Value plainValue(const Value& object, bool topLevel) {
  APMValuePtr value = APMValue::fromObject(object);
  if (value == nullptr) return {};
  if (value->isDouble()) return Value(value->doubleValue());
  if (value->isInt64()) return Value(value->int64Value());
  if (value->isString()) return Value(*value->stringValue());
  if (!topLevel) return {};
  Array elements;
  const Array items = *value->arrayValue();
  for (const Value& element : items) {
    std::optional<Dictionary> fields = element.asDictionary();
    if (!fields) continue;
    Dictionary plain;
    for (const auto& [key, item] : *fields) {
      Value converted = plainValue(item, false);
      if (!converted.isNull()) plain.set(key, converted);
    }
    elements.append(Value(plain));
  }
  return Value(elements);
}

}  // namespace

int64_t APMMillisecondsFromSeconds(double seconds) {
  const double milliseconds = seconds * 1000;
  if (std::isnan(milliseconds)) return 0;
  // 2^63 is exactly representable; anything at or beyond it saturates.
  if (milliseconds >= 9223372036854775808.0) return INT64_MAX;
  if (milliseconds < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(milliseconds);
}

std::shared_ptr<APMEvent> APMEvent::initWithOrigin(const std::string& origin, bool isPublic, const std::string& name,
                                                   double timestamp, double previousTimestamp,
                                                   const Dictionary& parameters) {
  int64_t failure = 0;
  if (!APMDataTypeValidator::isValidForwardedEventOrigin(Value(origin), &failure)) {
    if (failure != kAPMValidationNotForwarded || !APMDataTypeValidator::isValidInternalEventOrigin(Value(origin))) {
      return nullptr;
    }
  }
  if (isPublic && !APMDataTypeValidator::isValidPublicEventName(Value(name))) return nullptr;
  if (!APMDataTypeValidator::isValidInternalEventName(Value(name))) return nullptr;
  if (previousTimestamp > timestamp) {
    monitor()->logWithLevel(5, 16002, "Event created with previous timestamp after current timestamp");
  }
  std::shared_ptr<APMEvent> event(new APMEvent());
  event->m_origin = origin;
  event->m_name = name;
  event->m_timestamp = timestamp;
  event->m_previousTimestamp = previousTimestamp;
  std::optional<Dictionary> validated = APMValidateEventParameters(parameters, Value(name), isPublic, false);
  event->m_parameters = validated ? shallowCopy(*validated) : Dictionary();
  event->m_parameters.set("_o", APMValue::objectWithString(origin));
  const bool requireValue = event->shouldRequireValueParam();
  if (event->shouldValidateParams() && !APMCheckValueAndCurrency(event->m_parameters, requireValue)) {
    event->m_parameters.remove("_c");
  }
  return event;
}

std::shared_ptr<APMEvent> APMEvent::copyWithPreviousTimestamp(double previousTimestamp) const {
  return initWithOrigin(m_origin, false, m_name, m_timestamp, previousTimestamp, m_parameters);
}

std::shared_ptr<APMEvent> APMEvent::copyWithParameters(const Dictionary& parameters) const {
  return initWithOrigin(m_origin, false, m_name, m_timestamp, m_previousTimestamp, parameters);
}

std::shared_ptr<APMEvent> APMEvent::copy() const {
  return initWithOrigin(m_origin, false, m_name, m_timestamp, m_previousTimestamp, m_parameters);
}

Dictionary APMEvent::parameters() const { return shallowCopy(m_parameters); }

bool APMEvent::shouldRequireValueParam() const {
  return (m_name == "in_app_purchase" || m_name == "_iap") && m_origin == "app";
}

bool APMEvent::shouldValidateParams() const { return isConversion() || m_name == "ad_impression" || m_name == "_ai"; }

bool APMEvent::hasInt64One(const char* key) const {
  APMValuePtr value = APMValue::fromObject(m_parameters.get(key));
  return value != nullptr && value->isInt64() && value->int64Value() == 1;
}

bool APMEvent::isConversion() const { return hasInt64One("_c"); }

void APMEvent::setConversion(bool conversion) {
  if (conversion) {
    if (!APMCheckValueAndCurrency(m_parameters, shouldRequireValueParam())) return;
    m_parameters.set("_c", APMValue::objectWithInt64(1));
    APMValuePtr error = APMValue::fromObject(m_parameters.get("_err"));
    if (error != nullptr && error->isInt64() && error->int64Value() == 10) m_parameters.remove("_err");
    return;
  }
  if (m_parameters.remove("_c")) APMSetErrorIfAbsent(m_parameters, 10);
}

bool APMEvent::isRealtime() const {
  const Value* realtime = m_parameters.find("_r");
  if (realtime == nullptr) return false;
  APMValuePtr value = APMValue::fromObject(*realtime);
  if (value == nullptr || !value->isInt64()) {
    monitor()->logWithLevel(2, 16006, "Realtime parameter must be an int64. Event name", Value(m_name));
    return false;
  }
  return value->int64Value() == 1;
}

void APMEvent::setRealtime(bool realtime) {
  if (realtime) {
    m_parameters.set("_r", APMValue::objectWithInt64(1));
  } else {
    m_parameters.remove("_r");
  }
}

bool APMEvent::isDebug() const { return hasInt64One("_dbg"); }

void APMEvent::setDebug(bool debug) {
  if (debug) {
    m_parameters.set("_dbg", APMValue::objectWithInt64(1));
  } else {
    m_parameters.remove("_dbg");
  }
}

void APMEvent::applyParameters(const Dictionary& parameters, bool isPublic) {
  if (parameters.empty()) return;
  std::optional<Dictionary> validated = APMValidateEventParameters(parameters, Value(), isPublic, false);
  if (!validated || validated->empty()) return;
  Dictionary merged = shallowCopy(*validated);
  for (const auto& [key, value] : m_parameters) merged.set(key, value);
  m_parameters = merged;
}

bool APMEvent::addScreenParameters(const Dictionary& screen) {
  if (screen.empty() || APMHasScreenParameters(m_parameters) || !screen.contains("_si")) return false;
  auto screenText = [&](const char* key, int64_t code, const char* message) -> std::optional<Value> {
    const Value* raw = screen.find(key);
    if (raw == nullptr) return Value();
    Value text = *raw;
    if (APMValuePtr typed = APMValue::fromObject(text)) {
      if (!typed->isString()) return std::nullopt;
      text = Value(*typed->stringValue());
    }
    if (!text.isString()) return std::nullopt;
    if (!APMDataTypeValidator::isValidScreenParameterValue(text)) {
      monitor()->logWithLevel(3, code, message, text);
      return std::nullopt;
    }
    return text;
  };
  std::optional<Value> screenClass = screenText("_sc", 16003, "Received invalid screen class");
  if (!screenClass) return false;
  const Value& screenID = *screen.find("_si");
  APMValuePtr typedID = APMValue::fromObject(screenID);
  if (!(typedID ? typedID->isInt64() : screenID.isNumeric())) return false;
  std::optional<Value> screenName = screenText("_sn", 16004, "Received invalid screen name");
  if (!screenName) return false;
  APMValuePtr identifier = APMValue::valueFromObject(screenID);
  if (identifier == nullptr) return false;
  m_parameters.set("_si", APMValue::toObject(identifier));
  for (const auto& [key, text] : {std::pair<const char*, Value>{"_sc", *screenClass}, {"_sn", *screenName}}) {
    if (text.isNull()) continue;
    if (APMValuePtr converted = APMValue::valueFromObject(text)) m_parameters.set(key, APMValue::toObject(converted));
  }
  return true;
}

std::shared_ptr<APMEvent> APMEvent::eventFromEditEvent(const APMPEvent& editEvent) {
  std::string name = editEvent.name();
  if (auto internal = APMEventNameMap().find(name); internal != APMEventNameMap().end()) name = internal->second;
  const Value origin = editEvent.parameterForName("_o");
  return initWithOrigin(origin.isString() ? *origin.asString() : "app", false, name, editEvent.timestamp(), 0,
                        editEvent.parameters());
}

APMPEvent APMEvent::editEvent() const {
  std::string name = m_name;
  if (auto found = APMInternalToPublicEventNameMap().find(name); found != APMInternalToPublicEventNameMap().end()) {
    name = found->second;
  }
  Dictionary plain;
  for (const auto& [key, value] : m_parameters) {
    Value converted = plainValue(value, true);
    if (!converted.isNull()) plain.set(key, converted);
  }
  return APMPEvent(name, m_timestamp, plain);
}

std::shared_ptr<APMPBEvent> APMEvent::protoEvent() const {
  // Built once and then read or encoded: one block holds nearly all of it.
  auto proto = APMPBEvent::initInBlock(eventBlockRoom(m_parameters));
  if (proto == nullptr) return nullptr;
  MessageSink sink(proto.get());
  encodeEvent(sink, m_name, m_timestamp, m_previousTimestamp, m_parameters, true);
  return proto;
}

bool APMEvent::encodeProtoEvent(platform::Bytes& bytes, bool withName) const {
  APMPBWireWriter writer(kAPMPBEvent, bytes);
  WireSink sink(writer);
  encodeEvent(sink, m_name, m_timestamp, m_previousTimestamp, m_parameters, withName);
  return writer.finish();
}

std::shared_ptr<APMEvent> APMEvent::initWithEventProto(const APMPBEvent* proto) {
  if (proto == nullptr) return nullptr;
  const std::string name = APMPBGetString(proto, APMPBEventSlot::kName).value_or("");
  const double timestamp = double(APMPBGetInt64(proto, APMPBEventSlot::kTimestamp)) / 1000;
  const double previousTimestamp = double(APMPBGetInt64(proto, APMPBEventSlot::kPreviousTimestamp)) / 1000;
  std::string origin;
  Dictionary parameters;
  std::optional<Array> params = APMPBGetArray<APMPBEventParam>(proto, APMPBEventSlot::kParams);
  for (const Value& item : params.value_or(Array())) {
    std::shared_ptr<APMPBEventParam> param = APMPBObjectFromValue<APMPBEventParam>(item);
    std::optional<std::string> key = APMPBGetString(param.get(), APMPBEventParamSlot::kName);
    if (!key) {
      monitor()->logWithLevel(2, 15000, "Ignoring parameter. Parameter name is nil. Event name", Value(name));
      continue;
    }
    if (*key == "_o") {
      std::optional<std::string> text = APMPBGetString(param.get(), APMPBEventParamSlot::kStringValue);
      if (!APMPBHasField(param.get(), APMPBEventParamSlot::kStringValue) || !text) {
        monitor()->logWithLevel(2, 15001,
                                "Cannot create an event from event proto. Origin parameter is not a string. Event name",
                                Value(name));
        return nullptr;
      }
      origin = *text;
      continue;
    }
    if (APMPBHasField(param.get(), APMPBEventParamSlot::kStringValue)) {
      parameters.set(*key, APMValue::objectWithString(
                               APMPBGetString(param.get(), APMPBEventParamSlot::kStringValue).value_or("")));
    } else if (APMPBHasField(param.get(), APMPBEventParamSlot::kIntValue)) {
      parameters.set(*key, APMValue::objectWithInt64(APMPBGetInt64(param.get(), APMPBEventParamSlot::kIntValue)));
    } else if (APMPBHasField(param.get(), APMPBEventParamSlot::kDoubleValue)) {
      parameters.set(*key, APMValue::objectWithDouble(APMPBGetDouble(param.get(), APMPBEventParamSlot::kDoubleValue)));
    } else {
      monitor()->logWithLevel(
          5, 15002, "Unknown event parameter type from converting an event proto into APMEvent instance. Event param name",
          Value(*key));
    }
  }
  return initWithOrigin(origin, false, name, timestamp, previousTimestamp, parameters);
}

bool APMIsErrorEvent(const APMEvent* event) {
  if (event == nullptr || event->name().empty()) {
    APMEngineServices::monitor()->logWithLevel(2, 18004, "Cannot check the event name. Name is empty");
    return false;
  }
  return event->name() == "_err";
}

bool APMIsNotErrorEventName(const std::string& name) { return name != "_err"; }

bool APMIsSubscriptionEvent(const APMEvent* event) {
  if (event == nullptr) return false;
  if (event->name() == "_assc" || event->name() == "_assr") return true;
  if (event->name() != "_iap") return false;
  APMValuePtr subscription = APMValue::fromObject(event->parameters().get("subscription"));
  return subscription != nullptr && subscription->isInt64() && subscription->int64Value() == 1;
}

bool APMIsDefaultConversionEventName(const std::string& name) {
  return name == "ecommerce_purchase" || name == "_f" || name == "_iap" || name == "in_app_purchase" ||
         name == "purchase" || name == "refund";
}

bool APMIsPurchaseEventName(const std::string& name) {
  return name == "_iap" || name == "purchase" || name == "in_app_purchase" || name == "ecommerce_purchase";
}

bool APMHasScreenParameters(const Dictionary& parameters) {
  return parameters.contains("_si") || parameters.contains("_sc") || parameters.contains("_sn");
}

Dictionary APMExtractScreenParameters(const Dictionary& parameters) {
  Dictionary screen;
  for (const char* key : {"_sn", "_sc", "_si"}) {
    if (const Value* value = parameters.find(key)) screen.set(key, *value);
  }
  return screen;
}

Dictionary APMRemoveGadParameters(const Dictionary& parameters) {
  if (parameters.empty()) return parameters;
  Dictionary kept;
  for (const auto& [key, value] : parameters) {
    if (key.rfind("gad_", 0) != 0) kept.set(key, value);
  }
  return kept;
}

int32_t APMCountArrayParameterItems(const APMEvent* event) {
  if (event == nullptr) return 0;
  int32_t count = 0;
  for (const auto& [key, value] : event->parameters()) {
    APMValuePtr typed = APMValue::fromObject(value);
    if (typed != nullptr && typed->isArray()) count += static_cast<int32_t>(typed->arrayValue()->size());
  }
  return count;
}

bool APMEventProtoHasParameter(const Array& params, const std::string& name) {
  for (const Value& item : params) {
    std::shared_ptr<APMPBEventParam> param = APMPBObjectFromValue<APMPBEventParam>(item);
    if (param != nullptr && APMPBGetString(param.get(), APMPBEventParamSlot::kName) == name) {
      APMEngineServices::monitor()->logWithLevel(4, 23156, "Event parameter already exists. Parameter name",
                                                 APMDebugParameterName(Value(name)));
      return true;
    }
  }
  return false;
}
