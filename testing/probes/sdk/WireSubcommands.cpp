// Measurement wire messages: wire-encode, wire-decode, wire-get, wire-flag.
//
// TYPE is one of the 46 message names. SPEC is a JSON object (inline or
// "@PATH") from slot index to value: integers for int32/enum/uint32 (-2^31 ..
// 2^32-1, low 32 bits kept) and int64/uint64, numbers for float/double,
// true/false, strings, lower-case hex for bytes, objects for message slots,
// arrays for repeated slots. Slots are set in ascending order through the
// field operations. A bad SPEC prints "=> error bad spec: REASON" (exit 2).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/base/APMPBFlag.h"
#include "platform/crypto/Digest.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/text/NumberText.h"
#include "platform/text/Unicode.h"
#include "testing/probes/sdk/ProbeCommand.h"

namespace sdkprobe {

namespace {

// Any message type in object form (the wrapper classes cover 42 of the 46):
// owns a new instance, or views one owned elsewhere.
class ProbeMessage final : public NANOMessageBase {
 public:
  explicit ProbeMessage(const APMPBMessageType& type) : m_type(type), m_info(type.newMessageInfo()), m_owned(true) {}
  ProbeMessage(const APMPBMessageType& type, APMPBMessageInfo* info) : m_type(type), m_info(info), m_owned(false) {}
  ~ProbeMessage() override {
    if (m_owned) m_type.freeMessageInfo(m_info);
  }
  ProbeMessage(const ProbeMessage&) = delete;
  ProbeMessage& operator=(const ProbeMessage&) = delete;

  const char* messageID() const override { return m_type.name; }
  APMPBMessageInfo* messageInfo() const override { return m_info; }
  const APMPBMessageType& messageType() const override { return m_type; }
  std::optional<platform::Bytes> protoBuffer() const override {
    uint8_t* buffer = nullptr;
    const int32_t length = m_type.encode(m_info, &buffer);
    if (length < 0 || buffer == nullptr) return std::nullopt;
    platform::Bytes bytes(buffer, buffer + length);
    std::free(buffer);
    return bytes;
  }

 private:
  const APMPBMessageType& m_type;
  APMPBMessageInfo* m_info;
  bool m_owned;
};

struct BadSpec {
  std::string reason;
};

std::string hex(const platform::Bytes& bytes) { return platform::Digest::hex(bytes); }

std::optional<platform::Bytes> fromHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  platform::Bytes bytes;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t index = 0; index < text.size(); index += 2) {
    const int high = digit(text[index]), low = digit(text[index + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

// The text of an argument, or of the file it names with "@PATH".
std::optional<std::string> argumentText(const std::string& argument) {
  if (argument.empty() || argument[0] != '@') return argument;
  platform::Result<platform::Bytes> bytes = platform::fs::readFile(argument.substr(1));
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::string json(const platform::Value& value) {
  platform::Result<std::string> text = platform::Json::serialize(value, {.sortedKeys = true, .allowFragments = true});
  return text ? *text : std::string("null");
}

// --- SPEC -> message -------------------------------------------------------------

platform::Value elementFor(const APMPBMessageType& type, uint32_t slot, const platform::Value& value);
void fill(NANOMessageBase* message, const platform::Value& spec);

std::string where(const APMPBMessageType& type, uint32_t slot) {
  return "slot " + std::to_string(slot) + " of " + type.name;
}

int64_t integerOf(const APMPBMessageType& type, uint32_t slot, const platform::Value& value, int64_t low,
                  uint64_t high) {
  if (value.isInteger()) {
    if (std::optional<int64_t> signedValue = value.asInt64()) {
      if (*signedValue >= low && (*signedValue < 0 || uint64_t(*signedValue) <= high)) return *signedValue;
    } else if (std::optional<uint64_t> unsignedValue = value.asUInt64(); unsignedValue && *unsignedValue <= high) {
      return static_cast<int64_t>(*unsignedValue);
    }
    throw BadSpec{where(type, slot) + " is out of range"};
  }
  throw BadSpec{where(type, slot) + " expects an integer"};
}

// A value for one slot (or one item of a repeated slot) in the form the
// field operations take.
platform::Value elementFor(const APMPBMessageType& type, uint32_t slot, const platform::Value& value) {
  const APMPBFieldFlags flags = type.flags[slot];
  if (flags & kAPMPBFieldBool) {
    if (!value.isBool()) throw BadSpec{where(type, slot) + " expects true or false"};
    return value;
  }
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
    return platform::Value(static_cast<uint32_t>(integerOf(type, slot, value, INT32_MIN, UINT32_MAX)));
  }
  if (flags & kAPMPBFieldInt64) return platform::Value(integerOf(type, slot, value, INT64_MIN, INT64_MAX));
  if (flags & kAPMPBFieldUInt64) {
    return platform::Value(static_cast<unsigned long long>(integerOf(type, slot, value, INT64_MIN, UINT64_MAX)));
  }
  if (flags & (kAPMPBFieldFloat | kAPMPBFieldDouble)) {
    if (!value.isNumber()) throw BadSpec{where(type, slot) + " expects a number"};
    return platform::Value(value.doubleValue());
  }
  if (flags & kAPMPBFieldString) {
    if (!value.isString()) throw BadSpec{where(type, slot) + " expects a string"};
    return value;
  }
  if (flags & kAPMPBFieldBytes) {
    std::optional<platform::Bytes> bytes = value.isString() ? fromHex(*value.asString()) : std::nullopt;
    if (!bytes) throw BadSpec{where(type, slot) + " expects lower-case hex"};
    return platform::Value::data(*bytes);
  }
  if (!value.isDictionary()) throw BadSpec{where(type, slot) + " expects an object"};
  auto sub = std::make_shared<ProbeMessage>(*type.slots[slot].messageType);
  fill(sub.get(), value);
  return APMPBObjectValue(sub);
}

void fill(NANOMessageBase* message, const platform::Value& spec) {
  const APMPBMessageType& type = message->messageType();
  std::optional<platform::Dictionary> entries = spec.asDictionary();
  if (!entries) throw BadSpec{std::string("the spec of ") + type.name + " is not a JSON object"};
  std::map<uint32_t, platform::Value> bySlot;
  for (const auto& [key, value] : *entries) {
    std::optional<int64_t> slot = platform::NumberText::parseInt64(key);
    if (!slot || *slot < 0 || *slot >= int64_t(type.slotCount) || std::to_string(*slot) != key) {
      throw BadSpec{std::string(type.name) + " has no slot \"" + key + "\""};
    }
    bySlot[static_cast<uint32_t>(*slot)] = value;
  }
  for (const auto& [slot, value] : bySlot) {
    const APMPBFieldFlags flags = type.flags[slot];
    const auto index = static_cast<int32_t>(slot);
    if (flags & kAPMPBFieldRepeated) {
      std::optional<platform::Array> items = value.asArray();
      if (!items) throw BadSpec{where(type, slot) + " expects an array"};
      platform::Array converted;
      for (const platform::Value& item : *items) converted.append(elementFor(type, slot, item));
      APMPBSetArray(message, index, converted);
      continue;
    }
    platform::Value element = elementFor(type, slot, value);
    if (flags & kAPMPBFieldBool) {
      APMPBSetBool(message, index, *element.asBool());
    } else if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
      APMPBSetInt32(message, index, static_cast<int32_t>(element.numberAs<uint32_t>()));
    } else if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) {
      APMPBSetInt64(message, index, element.numberAs<int64_t>());
    } else if (flags & kAPMPBFieldFloat) {
      APMPBSetFloat(message, index, element.floatValue());
    } else if (flags & kAPMPBFieldDouble) {
      APMPBSetDouble(message, index, element.doubleValue());
    } else if (flags & kAPMPBFieldString) {
      APMPBSetString(message, index, *element.asString());
    } else if (flags & kAPMPBFieldBytes) {
      APMPBSetBytes(message, index, *element.asData());
    } else {
      APMPBSetMessage(message, index, APMPBObjectFromValue(element).get());
    }
  }
}

// --- message -> DUMP -------------------------------------------------------------

platform::Value number(double value) { return std::isfinite(value) ? platform::Value(value) : platform::Value(); }

platform::Value textOrNull(const APMPBBytesCell* cell) {
  if (cell == nullptr || cell->bytes == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(cell->bytes), cell->length);
  return platform::Unicode::isValidUtf8(text) ? platform::Value(std::move(text)) : platform::Value();
}

platform::Value dump(const NANOMessageBase& message);

// One item of a repeated slot, read from its cell.
platform::Value itemDump(const APMPBMessageType& type, uint32_t slot, void* item) {
  const APMPBFieldFlags flags = type.flags[slot];
  if (item == nullptr) return {};
  if (flags & kAPMPBFieldMessage) {
    return dump(ProbeMessage(*type.slots[slot].messageType, static_cast<APMPBMessageInfo*>(item)));
  }
  if (flags & kAPMPBFieldString) return textOrNull(static_cast<const APMPBBytesCell*>(item));
  if (flags & kAPMPBFieldBytes) {
    const auto* cell = static_cast<const APMPBBytesCell*>(item);
    return cell->bytes ? platform::Value(hex(platform::Bytes(cell->bytes, cell->bytes + cell->length)))
                       : platform::Value();
  }
  const auto* cell = static_cast<const APMPBValueCell*>(item);
  if (flags & kAPMPBFieldBool) return platform::Value(static_cast<uint8_t>(cell->u64) != 0);
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
    return platform::Value(static_cast<int32_t>(static_cast<uint32_t>(cell->u64)));
  }
  if (flags & kAPMPBFieldInt64) return platform::Value(cell->i64);
  if (flags & kAPMPBFieldUInt64) return platform::Value(static_cast<unsigned long long>(cell->u64));
  if (flags & kAPMPBFieldFloat) return number(cell->f);
  return number(cell->d);
}

platform::Value slotDump(const NANOMessageBase& message, uint32_t slot) {
  const APMPBMessageType& type = message.messageType();
  const APMPBFieldFlags flags = type.flags[slot];
  const auto index = static_cast<int32_t>(slot);
  if (flags & kAPMPBFieldBool) return platform::Value(APMPBGetBool(&message, index));
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldInt32 | kAPMPBFieldUInt32)) {
    return platform::Value(APMPBGetInt32(&message, index));
  }
  if (flags & kAPMPBFieldInt64) return platform::Value(APMPBGetInt64(&message, index));
  if (flags & kAPMPBFieldUInt64) {
    return platform::Value(static_cast<unsigned long long>(APMPBGetInt64(&message, index)));
  }
  if (flags & kAPMPBFieldFloat) return number(APMPBGetFloat(&message, index));
  if (flags & kAPMPBFieldDouble) return number(APMPBGetDouble(&message, index));
  if (flags & kAPMPBFieldString) {
    std::optional<std::string> text = APMPBGetString(&message, index);
    return text ? platform::Value(*text) : platform::Value();
  }
  if (flags & kAPMPBFieldBytes) {
    std::optional<platform::Bytes> bytes = APMPBGetBytes(&message, index);
    return bytes ? platform::Value(hex(*bytes)) : platform::Value();
  }
  auto* sub = static_cast<APMPBMessageInfo*>(message.messageInfo()->slots[slot]);
  return dump(ProbeMessage(*type.slots[slot].messageType, sub));
}

platform::Value dump(const NANOMessageBase& message) {
  const APMPBMessageType& type = message.messageType();
  platform::Dictionary entries;
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    if (type.flags[slot] & kAPMPBFieldRepeated) {
      const auto* record = static_cast<const APMPBRepeatedField*>(message.messageInfo()->slots[slot]);
      if (record == nullptr || record->count == 0) continue;
      platform::Array items;
      for (uint32_t index = 0; index < record->count; ++index) {
        items.append(itemDump(type, slot, record->items[index]));
      }
      entries.set(std::to_string(slot), platform::Value(items));
    } else if (APMPBHasField(&message, static_cast<int32_t>(slot))) {
      entries.set(std::to_string(slot), slotDump(message, slot));
    }
  }
  return platform::Value(entries);
}

// --- subcommands -------------------------------------------------------------------

const APMPBMessageType* typeNamed(const std::string& name) {
  const APMPBMessageType* type = APMPBMessageTypeNamed(name);
  if (type == nullptr) result("error bad type: " + name);
  return type;
}

// The message SPEC describes, or nullptr after "=> error bad spec: ...".
std::shared_ptr<ProbeMessage> messageFromSpec(const APMPBMessageType& type, const std::string& argument) {
  try {
    std::optional<std::string> text = argumentText(argument);
    if (!text) throw BadSpec{"cannot read " + argument.substr(1)};
    platform::Result<platform::Value> spec = platform::Json::parse(*text);
    if (!spec) throw BadSpec{"not JSON: " + spec.error().localizedDescription()};
    auto message = std::make_shared<ProbeMessage>(type);
    fill(message.get(), *spec);
    return message;
  } catch (const BadSpec& bad) {
    result("error bad spec: " + bad.reason);
    return nullptr;
  }
}

int wireEncode(const std::vector<std::string>& arguments) {
  const APMPBMessageType* type = typeNamed(arguments[0]);
  if (type == nullptr) return 2;
  std::shared_ptr<ProbeMessage> message = messageFromSpec(*type, arguments[1]);
  if (message == nullptr) return 2;
  std::optional<platform::Bytes> bytes = message->protoBuffer();
  if (!bytes) {
    result("error");
    return 1;
  }
  result(hex(*bytes));
  return 0;
}

int wireDecode(const std::vector<std::string>& arguments) {
  const APMPBMessageType* type = typeNamed(arguments[0]);
  if (type == nullptr) return 2;
  std::optional<platform::Bytes> input = wireInputBytes(arguments[1]);
  if (!input) {
    result("error bad input: " + arguments[1]);
    return 2;
  }
  ProbeMessage message(*type);
  if (!type->decode(input->data(), input->size(), message.messageInfo())) {
    result("error");
    return 1;
  }
  std::optional<platform::Bytes> again = message.protoBuffer();
  if (!again) {
    result("error");
    return 1;
  }
  result("ok " + std::to_string(again->size()));
  if (again->size() <= 4096) {
    result(hex(*again));
    result(json(dump(message)));
  }
  return 0;
}

int wireGet(const std::vector<std::string>& arguments) {
  const APMPBMessageType* type = typeNamed(arguments[0]);
  if (type == nullptr) return 2;
  std::shared_ptr<ProbeMessage> message = messageFromSpec(*type, arguments[1]);
  if (message == nullptr) return 2;
  const std::string& kind = arguments[2];
  std::optional<int64_t> slot = platform::NumberText::parseInt64(arguments[3]);
  if (!slot || *slot < INT32_MIN || *slot > INT32_MAX) {
    result("error bad slot: " + arguments[3]);
    return 2;
  }
  const auto index = static_cast<int32_t>(*slot);
  const NANOMessageBase* read = message.get();
  if (kind == "has") {
    result(APMPBHasField(read, index) ? "YES" : "NO");
  } else if (kind == "bool") {
    result(APMPBGetBool(read, index) ? "YES" : "NO");
  } else if (kind == "int32") {
    result(std::to_string(APMPBGetInt32(read, index)));
  } else if (kind == "int64") {
    result(std::to_string(APMPBGetInt64(read, index)));
  } else if (kind == "float") {
    result(json(number(APMPBGetFloat(read, index))));
  } else if (kind == "double") {
    result(json(number(APMPBGetDouble(read, index))));
  } else if (kind == "string") {
    std::optional<std::string> text = APMPBGetString(read, index);
    result(text ? json(platform::Value(*text)) : "nil");
  } else if (kind == "bytes") {
    std::optional<platform::Bytes> bytes = APMPBGetBytes(read, index);
    result(bytes ? hex(*bytes) : "nil");
  } else if (kind == "array") {
    std::optional<platform::Array> items = APMPBGetArray(read, index);
    if (!items) {
      result("nil");
    } else {
      platform::Array shown;
      for (const platform::Value& item : *items) {
        std::shared_ptr<NANOMessageBase> object = APMPBObjectFromValue(item);
        shown.append(object ? dump(*object) : item.isData() ? platform::Value(hex(*item.asData())) : item);
      }
      result(json(platform::Value(shown)));
    }
  } else {
    result("error bad kind: " + kind);
    return 2;
  }
  return 0;
}

// wire-flag NAME VALUE (a JSON integer, number or string): the flag's
// encoding and its value read back, or nil.
int wireFlag(const std::vector<std::string>& arguments) {
  platform::Result<platform::Value> value = platform::Json::parse(arguments[1], {.allowFragments = true});
  if (!value) {
    result("error bad value: " + arguments[1]);
    return 2;
  }
  std::shared_ptr<APMPBFlag> flag = APMPBFlagCreate(platform::Value(arguments[0]), *value);
  if (flag == nullptr) {
    // The monitor's report leaves before the result line.
    APMEngineServices::monitor()->monitorQueue().sync([] {});
    result("nil");
    return 0;
  }
  std::optional<platform::Bytes> bytes = flag->protoBuffer();
  result(bytes ? hex(*bytes) : "error");
  result(json(APMPBFlagValue(flag.get())));
  return 0;
}

}  // namespace

std::shared_ptr<NANOMessageBase> wireMessageFromSpec(const std::string& typeName, const std::string& argument) {
  const APMPBMessageType* type = typeNamed(typeName);
  if (type == nullptr) return nullptr;
  std::shared_ptr<ProbeMessage> message = messageFromSpec(*type, argument);
  if (!message) return nullptr;
  // A wrapper of the type's class over a copy, so callers get the usual object.
  std::shared_ptr<NANOMessageBase> wrapper = APMPBWrapperForType(*type, message->messageInfo());
  return wrapper ? wrapper : std::static_pointer_cast<NANOMessageBase>(message);
}

std::optional<platform::Bytes> wireInputBytes(const std::string& argument) {
  if (argument.empty() || argument[0] != '@') return fromHex(argument);
  platform::Result<platform::Bytes> bytes = platform::fs::readFile(argument.substr(1));
  if (!bytes) return std::nullopt;
  return *bytes;
}

std::vector<Subcommand> wireSubcommands() {
  return {
      {"wire-encode", 2, "wire-encode TYPE SPEC", wireEncode},
      {"wire-decode", 2, "wire-decode TYPE INPUT", wireDecode},
      {"wire-get", 4, "wire-get TYPE SPEC KIND SLOT", wireGet},
      {"wire-flag", 2, "wire-flag NAME VALUE", wireFlag},
  };
}

}  // namespace sdkprobe
