// Measurement validation and events: validate-params, validator,
// error-code-name, event, event-from-proto.
//
// Parameter JSON (inline or "@PATH") is read as raw parameters: integers
// become int64 values, other numbers doubles, strings strings, arrays of
// objects arrays. Parameters are written as compact JSON with keys sorted
// bytewise: int64 values as digits, doubles in their shortest round-trip form
// (".0" added when they would read as integers), arrays as arrays of objects.
// Monitor lines go to standard error before the result lines are written.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMErrorCodeName.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMValue.h"
#include "platform/crypto/Digest.h"
#include "platform/text/NumberText.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

using platform::Value;
using V = APMDataTypeValidator;

// Every monitor line of the subcommand leaves before its result lines.
void drainMonitor() { APMEngineServices::monitor()->monitorQueue().sync([] {}); }

int badArgument(const std::string& message) {
  result("error " + message);
  return 2;
}

Value plainParameters(const platform::Dictionary& parameters);

// A parameter (an APMValue, or a raw value left as it is) as a plain JSON
// value; the elements of an array value are parameter dictionaries.
Value plainParameter(const Value& object) {
  APMValuePtr value = APMValue::fromObject(object);
  if (value == nullptr) return object;
  if (!value->isArray()) return value->value();
  platform::Array elements;
  const std::optional<platform::Array> items = value->arrayValue();
  for (const Value& element : *items) {
    std::optional<platform::Dictionary> fields = element.asDictionary();
    elements.append(fields ? plainParameters(*fields) : element);
  }
  return Value(elements);
}

Value plainParameters(const platform::Dictionary& parameters) {
  platform::Dictionary plain;
  for (const auto& [key, value] : parameters) plain.set(key, plainParameter(value));
  return Value(plain);
}

std::string parametersJson(const platform::Dictionary& parameters) { return compactJson(plainParameters(parameters)); }

std::optional<platform::Dictionary> parametersArgument(const std::string& argument, std::string& error) {
  std::optional<Value> json = parseJsonArgument(argument, error);
  if (!json) return std::nullopt;
  std::optional<platform::Dictionary> parameters = json->asDictionary();
  if (!parameters) error = "JSON must be an object";
  return parameters;
}

std::optional<bool> flagArgument(const std::string& argument) {
  if (argument == "0") return false;
  if (argument == "1") return true;
  return std::nullopt;
}

// validate-params EVENT PUBLIC ITEMS JSON (an empty EVENT is no event name).
int validateParams(const std::vector<std::string>& arguments) {
  const std::optional<bool> isPublic = flagArgument(arguments[1]);
  const std::optional<bool> itemMode = flagArgument(arguments[2]);
  if (!isPublic || !itemMode) return badArgument("PUBLIC and ITEMS must be 0 or 1");
  std::string error;
  std::optional<platform::Dictionary> raw = parametersArgument(arguments[3], error);
  if (!raw) return badArgument(error);
  const Value eventName = arguments[0].empty() ? Value() : Value(arguments[0]);
  std::optional<platform::Dictionary> validated = APMValidateEventParameters(*raw, eventName, *isPublic, *itemMode);
  drainMonitor();
  result(validated ? parametersJson(*validated) : "nil");
  return 0;
}

// --- validator METHOD JSONARGS ---------------------------------------------------

// An argument the function takes as an APMValue: converted when it can be
// (so that the wrong-type rules stay reachable with objects, and nil with null).
Value typedArgument(const Value& json) {
  if (json.isNull() || json.isDictionary()) return json;
  APMValuePtr value = APMValue::valueFromObject(json, true);
  return value ? APMValue::toObject(value) : json;
}

struct ValidatorArguments {
  const platform::Array& values;
  const Value& at(size_t index) const { return values[index]; }
  Value typed(size_t index) const { return typedArgument(values[index]); }
  int64_t integer(size_t index) const { return values[index].longLongValue(); }
};

struct ValidatorMethod {
  // JSON kinds of the arguments: 'v' any value, 'i' integer, 'b' bool.
  std::string kinds;
  std::function<bool(const ValidatorArguments&, int64_t*)> check;
  bool hasFailureCode = true;
};

const std::map<std::string, ValidatorMethod>& validatorMethods() {
  using A = const ValidatorArguments&;
  auto name = [](bool (*check)(const Value&, int64_t*)) {
    return ValidatorMethod{"v", [check](A a, int64_t* code) { return check(a.at(0), code); }};
  };
  auto value = [](bool (*check)(const Value&, int64_t*)) {
    return ValidatorMethod{"v", [check](A a, int64_t* code) { return check(a.typed(0), code); }};
  };
  static const std::map<std::string, ValidatorMethod> methods = {
      {"isValidString",
       {"viii", [](A a, int64_t* code) { return V::isValidString(a.at(0), a.integer(1), a.integer(2), a.integer(3), code); }}},
      {"isValidInternalName",
       {"vii", [](A a, int64_t* code) { return V::isValidInternalName(a.at(0), a.integer(1), a.integer(2), code); }}},
      {"isValidPublicName",
       {"vii", [](A a, int64_t* code) { return V::isValidPublicName(a.at(0), a.integer(1), a.integer(2), code); }}},
      {"isValidValue",
       {"viii", [](A a, int64_t* code) { return V::isValidValue(a.typed(0), a.integer(1), a.integer(2), a.integer(3), code); }}},
      {"hasReservedPrefixes", {"v", [](A a, int64_t*) { return V::hasReservedPrefixes(a.at(0)); }, false}},
      {"isValidPublicEventName", name(V::isValidPublicEventName)},
      {"isValidInternalEventName", name(V::isValidInternalEventName)},
      {"isValidPublicEventParameterName", name(V::isValidPublicEventParameterName)},
      {"isValidInternalEventParameterName", name(V::isValidInternalEventParameterName)},
      {"isValidPublicEventParameterValue", value(V::isValidPublicEventParameterValue)},
      {"isValidInternalEventParameterValue", value(V::isValidInternalEventParameterValue)},
      {"isValidInternalEventOrigin", name(V::isValidInternalEventOrigin)},
      {"isValidForwardedEventOrigin", name(V::isValidForwardedEventOrigin)},
      {"isValidPublicUserAttributeName", name(V::isValidPublicUserAttributeName)},
      {"isValidPublicUserAttributeValue", value(V::isValidPublicUserAttributeValue)},
      {"isValidInternalUserAttributeName", name(V::isValidInternalUserAttributeName)},
      {"isValidInternalUserAttributeValue",
       {"vv", [](A a, int64_t* code) { return V::isValidInternalUserAttributeValue(a.typed(0), a.at(1), code); }}},
      {"isValidScreenParameterValue", name(V::isValidScreenParameterValue)},
      {"isValidConditionalUserPropertyOrigin", name(V::isValidConditionalUserPropertyOrigin)},
      {"isValidConditionalUserPropertyName", name(V::isValidConditionalUserPropertyName)},
      {"isValidConditionalUserPropertyValue", value(V::isValidConditionalUserPropertyValue)},
      {"isValidNumericValue", value(V::isValidNumericValue)},
      {"isValidCurrencyCode", value(V::isValidCurrencyCode)},
      {"isValidArrayParamForEvent",
       {"vvib",
        [](A a, int64_t* code) {
          return V::isValidArrayParamForEvent(a.at(0), a.at(1), a.integer(2), *a.at(3).asBool(), code);
        }}},
      {"isValidArrayParamItem", name(V::isValidArrayParamItem)},
  };
  return methods;
}

bool argumentsMatch(const std::string& kinds, const platform::Array& values) {
  if (values.size() != kinds.size()) return false;
  for (size_t index = 0; index < kinds.size(); ++index) {
    if (kinds[index] == 'i' && !values[index].asInt64()) return false;
    if (kinds[index] == 'b' && !values[index].isBool()) return false;
  }
  return true;
}

int validator(const std::vector<std::string>& arguments) {
  const auto& methods = validatorMethods();
  auto method = methods.find(arguments[0]);
  if (method == methods.end()) return badArgument("unknown method: " + arguments[0]);
  std::string error;
  std::optional<Value> json = parseJsonArgument(arguments[1], error);
  if (!json) return badArgument(error);
  std::optional<platform::Array> values = json->asArray();
  if (!values || !argumentsMatch(method->second.kinds, *values)) {
    return badArgument("arguments of " + arguments[0] + " must be a JSON array of kinds " + method->second.kinds);
  }
  int64_t code = 0;
  const bool valid = method->second.check(ValidatorArguments{*values}, &code);
  drainMonitor();
  result(std::string(valid ? "YES " : "NO ") + std::to_string(code));
  return 0;
}

// --- events ------------------------------------------------------------------------

int errorCodeName(const std::vector<std::string>& arguments) {
  std::optional<int64_t> code = platform::NumberText::parseInt64(arguments[0]);
  if (!code) return badArgument("CODE must be an integer");
  auto found = APMErrorCodeName().find(*code);
  result(found == APMErrorCodeName().end() ? "nil" : found->second);
  return 0;
}

// event ORIGIN PUBLIC NAME TIMESTAMP PREVIOUS JSON
int event(const std::vector<std::string>& arguments) {
  const std::optional<bool> isPublic = flagArgument(arguments[1]);
  if (!isPublic) return badArgument("PUBLIC must be 0 or 1");
  const std::optional<double> timestamp = platform::NumberText::parseDouble(arguments[3]);
  const std::optional<double> previous = platform::NumberText::parseDouble(arguments[4]);
  if (!timestamp || !previous) return badArgument("TIMESTAMP and PREVIOUS must be numbers");
  std::string error;
  std::optional<platform::Dictionary> raw = parametersArgument(arguments[5], error);
  if (!raw) return badArgument(error);
  std::shared_ptr<APMEvent> built =
      APMEvent::initWithOrigin(arguments[0], *isPublic, arguments[2], *timestamp, *previous, *raw);
  drainMonitor();
  if (built == nullptr) {
    result("nil");
    return 0;
  }
  std::optional<platform::Bytes> bytes = built->protoEvent()->protoBuffer();
  result(bytes ? platform::Digest::hex(*bytes) : "error");
  result(parametersJson(built->parameters()));
  return bytes ? 0 : 1;
}

// event-from-proto INPUT (hex or "@PATH")
int eventFromProto(const std::vector<std::string>& arguments) {
  std::optional<platform::Bytes> input = wireInputBytes(arguments[0]);
  if (!input) return badArgument("bad input: " + arguments[0]);
  std::shared_ptr<APMPBEvent> proto = APMPBEvent::initWithBuffer(*input);
  std::shared_ptr<APMEvent> read = proto ? APMEvent::initWithEventProto(proto.get()) : nullptr;
  drainMonitor();
  if (read == nullptr) {
    result("nil");
    return proto ? 0 : 1;
  }
  result(read->origin() + " " + read->name() + " " + timeText(read->timestamp()) + " " +
         timeText(read->previousTimestamp()));
  result(parametersJson(read->parameters()));
  return 0;
}

}  // namespace

std::vector<Subcommand> measurementEventSubcommands() {
  return {
      {"validate-params", 4, "validate-params EVENT PUBLIC ITEMS JSON", validateParams},
      {"validator", 2, "validator METHOD JSONARGS", validator},
      {"error-code-name", 1, "error-code-name CODE", errorCodeName},
      {"event", 6, "event ORIGIN PUBLIC NAME TIMESTAMP PREVIOUS JSON", event},
      {"event-from-proto", 1, "event-from-proto INPUT", eventFromProto},
  };
}

}  // namespace sdkprobe
