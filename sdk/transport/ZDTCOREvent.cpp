#include "sdk/transport/ZDTCOREvent.h"

#include <cstdio>
#include <functional>

#include "platform/storage/KeyedArchiver.h"
#include "platform/text/Uuid.h"
#include "platform/time/Clock.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"

using platform::KeyedArchiver;
using platform::Value;

namespace {

size_t hashBytes(const std::optional<platform::Bytes>& bytes) {
  if (!bytes) return 0;
  return std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
}

// The string under key ("" when absent); false after a decoding failure.
bool decodeString(platform::KeyedUnarchiver& coder, const char* key, std::optional<std::string>& out) {
  platform::Result<Value> value = coder.decodeObject(key, {KeyedArchiver::kStringClass});
  if (!value) return false;
  if (const std::string* text = value->asString()) out = *text;
  return true;
}

bool decodeData(platform::KeyedUnarchiver& coder, const char* key, std::optional<platform::Bytes>& out) {
  platform::Result<Value> value = coder.decodeObject(key, {KeyedArchiver::kDataClass});
  if (!value) return false;
  if (const platform::Bytes* data = value->asData()) out = *data;
  return true;
}

}  // namespace

std::string ZDTCOREvent::nextEventID() { return platform::Uuid::random().hex(); }

std::shared_ptr<ZDTCOREvent> ZDTCOREvent::initWithMappingID(const std::string& mappingID,
                                                             std::optional<ZDTCORProductData> productData,
                                                             int64_t target) {
  ZDTCORAssert(!mappingID.empty(), "Please give a valid mapping ID");
  if (!ZDTCORAssert(target > 0, "A target cannot be negative or 0")) return nullptr;
  if (mappingID.empty()) return nullptr;
  auto event = std::make_shared<ZDTCOREvent>();
  event->m_eventID = nextEventID();
  event->m_mappingID = mappingID;
  event->m_productData = std::move(productData);
  event->m_target = target;
  event->m_qosTier = ZDTCOREventQoSDefault;
  event->m_expirationDate = platform::Clock::current()->now() + kExpirationInterval;
  ZDTCORLogDebug("Event " + event->description() + " created. ID:" + event->m_eventID + " mappingID: " + mappingID +
                 " target:" + std::to_string(target));
  return event;
}

void ZDTCOREvent::setDataObject(std::shared_ptr<ZDTCOREventDataObject> dataObject) {
  if (dataObject != m_dataObject) m_dataObject = std::move(dataObject);
  if (m_dataObject) {
    m_serializedDataObjectBytes = m_dataObject->transportBytes();
  } else {
    m_serializedDataObjectBytes.reset();
  }
}

std::shared_ptr<ZDTCOREvent> ZDTCOREvent::copy() const {
  std::shared_ptr<ZDTCOREvent> copy = initWithMappingID(m_mappingID, m_productData, m_target);
  if (!copy) return nullptr;
  copy->m_eventID = m_eventID;
  copy->setDataObject(m_dataObject);
  copy->m_qosTier = m_qosTier;
  copy->m_clockSnapshot = m_clockSnapshot;
  copy->m_customBytes = m_customBytes;
  ZDTCORLogDebug("Copying event " + description() + " to event " + copy->description());
  return copy;
}

size_t ZDTCOREvent::hash() const {
  std::hash<std::string> text;
  size_t result = text(m_eventID) ^ text(m_mappingID);
  if (m_productData) result ^= m_productData->hash();
  if (m_clockSnapshot) result ^= m_clockSnapshot->hash();
  result ^= hashBytes(m_serializedDataObjectBytes);
  result ^= static_cast<size_t>(m_target) ^ static_cast<size_t>(m_qosTier);
  return result;
}

bool ZDTCOREvent::isEqual(const ZDTCOREvent& other) const {
  return m_eventID == other.m_eventID && m_mappingID == other.m_mappingID && m_productData == other.m_productData &&
         m_clockSnapshot == other.m_clockSnapshot &&
         m_serializedDataObjectBytes == other.m_serializedDataObjectBytes && m_target == other.m_target &&
         m_qosTier == other.m_qosTier;
}

std::string ZDTCOREvent::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<ZDTCOREvent: ") + address + ">";
}

void ZDTCOREvent::encodeWith(KeyedArchiver& archiver) const {
  archiver.encodeObject(kEventIDKey, Value(m_eventID));
  archiver.encodeObject(kMappingIDKey, Value(m_mappingID));
  if (m_productData) archiver.encodeObject(kProductDataKey, *m_productData);
  archiver.encodeInteger(kTargetKey, m_target);
  archiver.encodeInteger(kQoSTierKey, m_qosTier);
  if (m_clockSnapshot) archiver.encodeObject(kClockSnapshotKey, *m_clockSnapshot);
  if (m_customBytes) archiver.encodeObject(kCustomDataKey, Value::data(*m_customBytes));
  if (m_expirationDate) archiver.encodeObject(kExpirationDateKey, Value::date(*m_expirationDate));
  if (m_serializedDataObjectBytes) {
    archiver.encodeObject(kSerializedDataObjectBytesKey, Value::data(*m_serializedDataObjectBytes));
  }
}

std::shared_ptr<ZDTCOREvent> ZDTCOREvent::initWithCoder(platform::KeyedUnarchiver& coder) {
  auto event = std::make_shared<ZDTCOREvent>();
  std::optional<std::string> mappingID;
  if (!decodeString(coder, kMappingIDKey, mappingID)) return nullptr;
  event->m_mappingID = mappingID.value_or("");
  auto productData = coder.decodeObjectOfClass<ZDTCORProductData>(kProductDataKey, ZDTCORProductData::kClassName);
  if (!productData) return nullptr;
  if (productData.value()) event->m_productData = *productData.value();
  event->m_target = coder.decodeInteger(kTargetKey);
  std::optional<std::string> eventID;
  if (!decodeString(coder, kEventIDKey, eventID)) return nullptr;
  event->m_eventID = eventID ? *eventID : nextEventID();
  event->m_qosTier = coder.decodeInteger(kQoSTierKey);
  auto clock = coder.decodeObjectOfClass<ZDTCORClock>(kClockSnapshotKey, ZDTCORClock::kClassName);
  if (!clock) return nullptr;
  if (clock.value()) event->m_clockSnapshot = *clock.value();
  if (!decodeData(coder, kCustomDataKey, event->m_customBytes)) return nullptr;
  platform::Result<Value> expiration = coder.decodeObject(kExpirationDateKey, {KeyedArchiver::kDateClass});
  if (!expiration) return nullptr;
  event->m_expirationDate = expiration->asDate();
  if (!decodeData(coder, kSerializedDataObjectBytesKey, event->m_serializedDataObjectBytes)) return nullptr;
  if (!event->m_serializedDataObjectBytes) return nullptr;
  return event;
}
