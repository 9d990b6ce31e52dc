// ZDTCOREvent: the annotations kept as a JSON object in the custom bytes.
#include <cstdint>

#include "platform/storage/Json.h"
#include "platform/text/Base64.h"
#include "platform/text/NumberText.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCOREvent.h"

using platform::Bytes;
using platform::Dictionary;
using platform::Value;

namespace {

constexpr const char* kNeedsNetworkConnectionInfo = "needs_network_connection_info";
constexpr const char* kNetworkConnectionInfo = "network_connection_info";
constexpr const char* kEventCodeInfo = "event_code_info";

// The object in the custom bytes: an empty one when there are no bytes, an
// error when the bytes hold anything but a JSON object.
platform::Result<Dictionary> annotations(const std::optional<Bytes>& customBytes) {
  if (!customBytes) return Dictionary();
  platform::Result<Value> parsed = platform::Json::parse(*customBytes);
  if (!parsed) return parsed.error();
  std::optional<Dictionary> object = parsed->asDictionary();
  if (!object) return platform::Error::make(platform::Json::kErrorDomain, platform::Json::kErrorCode,
                                            "The custom bytes hold no JSON object.");
  return *object;
}

// The object to change, or none (logged as a failure to set `what`).
std::optional<Dictionary> annotationsToChange(const std::optional<Bytes>& customBytes, const char* what) {
  platform::Result<Dictionary> object = annotations(customBytes);
  if (!object) {
    ZDTCORLogDebug(std::string("Error when setting an event's ") + what + ": " + object.error().description());
    return std::nullopt;
  }
  return std::move(object.value());
}

// The text stored under key, or none (an unreadable object logged as a
// failure to get `what`).
std::optional<std::string> annotationText(const std::optional<Bytes>& customBytes, const char* key, const char* what) {
  if (!customBytes) return std::nullopt;
  platform::Result<Dictionary> object = annotations(customBytes);
  if (!object) {
    ZDTCORLogDebug(std::string("Error when getting an event's ") + what + ": " + object.error().description());
    return std::nullopt;
  }
  const Value* stored = object->find(key);
  const std::string* text = stored ? stored->asString() : nullptr;
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

}  // namespace

bool ZDTCOREvent::needsNetworkConnectionInfoPopulated() const {
  if (!m_customBytes) return false;
  platform::Result<Dictionary> object = annotations(m_customBytes);
  return object && object->get(kNeedsNetworkConnectionInfo).boolValue();
}

// Writes the object back as compact JSON; a failure clears the custom bytes.
static void writeAnnotations(std::optional<Bytes>& customBytes, const Dictionary& object, const char* what) {
  platform::Result<Bytes> json = platform::Json::serializeData(Value(object));
  if (json) {
    customBytes = std::move(json.value());
    return;
  }
  customBytes.reset();
  ZDTCORLogDebug(std::string("Error when setting an event's ") + what + ": " + json.error().description());
}

void ZDTCOREvent::setNeedsNetworkConnectionInfoPopulated(bool needsNetworkConnectionInfoPopulated) {
  std::optional<Dictionary> object = annotationsToChange(m_customBytes, kNeedsNetworkConnectionInfo);
  if (!object) return;
  if (needsNetworkConnectionInfoPopulated) {
    object->set(kNeedsNetworkConnectionInfo, Value(true));
    writeAnnotations(m_customBytes, *object, kNeedsNetworkConnectionInfo);
    return;
  }
  // Clearing the flag keeps only the event code (the network record goes too).
  if (const Value* code = object->find(kEventCodeInfo)) {
    writeAnnotations(m_customBytes, Dictionary{{kEventCodeInfo, *code}}, kNeedsNetworkConnectionInfo);
  }
}

std::optional<Bytes> ZDTCOREvent::networkConnectionInfoData() const {
  std::optional<std::string> text = annotationText(m_customBytes, kNetworkConnectionInfo, kNetworkConnectionInfo);
  return text ? platform::Base64::decode(*text) : std::nullopt;
}

void ZDTCOREvent::setNetworkConnectionInfoData(const Bytes& data) {
  const std::string encoded = platform::Base64::encode(data);
  if (encoded.empty()) return;
  std::optional<Dictionary> object = annotationsToChange(m_customBytes, kNetworkConnectionInfo);
  if (!object) return;
  object->set(kNetworkConnectionInfo, Value(encoded));
  writeAnnotations(m_customBytes, *object, kNetworkConnectionInfo);
}

std::optional<int64_t> ZDTCOREvent::eventCode() const {
  std::optional<std::string> text = annotationText(m_customBytes, kEventCodeInfo, "event_code");
  return text ? platform::NumberText::parseInt64(*text) : std::nullopt;
}

void ZDTCOREvent::setEventCode(std::optional<int64_t> eventCode) {
  if (!eventCode && !m_customBytes) return;
  std::optional<Dictionary> object = annotationsToChange(m_customBytes, "event_code");
  if (!object) return;
  if (eventCode) {
    object->set(kEventCodeInfo, Value(platform::NumberText::format(*eventCode)));
  } else {
    object->remove(kEventCodeInfo);
  }
  writeAnnotations(m_customBytes, *object, "event_code");
}
