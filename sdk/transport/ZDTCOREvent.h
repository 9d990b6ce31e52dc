// ZDTCOREvent: one telemetry event of the transport.
//
// An event has an identifier (a random UUID's upper-case text without "-"),
// the mapping ID (log source) and target it was made for, a payload (the
// data object and the bytes it answered, which are what is stored and
// uploaded), a quality-of-service tier (3 when made; 1 telemetry; 4 forces
// an upload of its target once stored), the clock snapshot taken when it was
// sent, an expiration date (7 days after it was made), opaque custom bytes
// and optional product data.
//
// Events are archived (and stored, one file each) as "ZDTCOREvent" with the
// keys below, in this order. Decoding yields no event when the payload bytes
// are missing; a missing identifier is replaced by a new one; missing
// numbers are 0. The data object itself is not archived.
//
// Two events are equal when their identifier, mapping ID, product data,
// clock snapshot, payload bytes, target and tier are equal.
//
// Annotations: the custom bytes may hold one compact JSON object with the
// optional keys "needs_network_connection_info" (true),
// "network_connection_info" (base64 of a 16-byte network record, see
// ZDTCCTNanopbHelpers.h) and "event_code_info" (the event code in decimal).
// Their accessors never throw: bytes that are not such an object read as no
// annotation and are left unchanged by the setters (logged at level 1).
//
// Thread safety: none; an event is handed to the transport by copying it on
// the caller's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "platform/values/Value.h"
#include "sdk/transport/ZDTCORClock.h"
#include "sdk/transport/ZDTCOREventDataObject.h"
#include "sdk/transport/ZDTCORProductData.h"

class ZDTCOREvent;
class ZDTCORMetrics;
// A set of events (no order).
using ZDTCOREventSet = std::vector<std::shared_ptr<ZDTCOREvent>>;

// Quality-of-service tiers the transport treats specially.
enum ZDTCOREventQoS : int64_t {
  ZDTCOREventQoSUnknown = 0,
  ZDTCOREventQoSTelemetry = 1,
  ZDTCOREventQoSDefault = 3,
  ZDTCOREventQoSFast = 4,
  ZDTCOREventQoSWifiOnly = 5,
};

class ZDTCOREvent : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "ZDTCOREvent";
  static constexpr const char* kEventIDKey = "ZDTCOREventEventIDKey";
  static constexpr const char* kMappingIDKey = "ZDTCOREventMappingIDKey";
  static constexpr const char* kProductDataKey = "ZDTCOREventProductDataKey";
  static constexpr const char* kTargetKey = "ZDTCOREventTargetKey";
  static constexpr const char* kQoSTierKey = "ZDTCOREventQoSTierKey";
  static constexpr const char* kClockSnapshotKey = "ZDTCOREventClockSnapshotKey";
  static constexpr const char* kCustomDataKey = "ZDTCOREventCustomDataKey";
  static constexpr const char* kExpirationDateKey = "ZDTCOREventExpirationDateKey";
  static constexpr const char* kSerializedDataObjectBytesKey = "ZDTCOREventSerializedDataObjectBytesKey";
  // Seconds from creation to expiration.
  static constexpr double kExpirationInterval = 604800;

  // A new identifier: 32 upper-case hexadecimal characters.
  static std::string nextEventID();

  // A new event, or nullptr after an assertion report when the mapping ID is
  // empty or the target is 0 or less.
  static std::shared_ptr<ZDTCOREvent> initWithMappingID(const std::string& mappingID,
                                                         std::optional<ZDTCORProductData> productData,
                                                         int64_t target);
  static std::shared_ptr<ZDTCOREvent> initWithMappingID(const std::string& mappingID, int64_t target) {
    return initWithMappingID(mappingID, std::nullopt, target);
  }

  const std::string& eventID() const { return m_eventID; }
  void setEventID(std::string eventID) { m_eventID = std::move(eventID); }
  const std::string& mappingID() const { return m_mappingID; }
  int64_t target() const { return m_target; }

  const std::shared_ptr<ZDTCOREventDataObject>& dataObject() const { return m_dataObject; }
  // Keeps the object and takes its transportBytes(); nullptr clears the bytes.
  void setDataObject(std::shared_ptr<ZDTCOREventDataObject> dataObject);
  const std::optional<platform::Bytes>& serializedDataObjectBytes() const { return m_serializedDataObjectBytes; }

  int64_t qosTier() const { return m_qosTier; }
  void setQosTier(int64_t tier) { m_qosTier = tier; }
  const std::optional<ZDTCORClock>& clockSnapshot() const { return m_clockSnapshot; }
  void setClockSnapshot(std::optional<ZDTCORClock> clock) { m_clockSnapshot = std::move(clock); }
  // Seconds since 1970.
  const std::optional<double>& expirationDate() const { return m_expirationDate; }
  void setExpirationDate(std::optional<double> date) { m_expirationDate = date; }
  const std::optional<platform::Bytes>& customBytes() const { return m_customBytes; }
  void setCustomBytes(std::optional<platform::Bytes> bytes) { m_customBytes = std::move(bytes); }
  const std::optional<ZDTCORProductData>& productData() const { return m_productData; }

  // --- annotations in the custom bytes ---
  bool needsNetworkConnectionInfoPopulated() const;
  // true sets the flag; false keeps only "event_code_info" when present.
  void setNeedsNetworkConnectionInfoPopulated(bool needsNetworkConnectionInfoPopulated);
  std::optional<platform::Bytes> networkConnectionInfoData() const;
  void setNetworkConnectionInfoData(const platform::Bytes& data);
  // The code as written (a decimal integer), or none.
  std::optional<int64_t> eventCode() const;
  // None removes the code.
  void setEventCode(std::optional<int64_t> eventCode);

  // An event of mapping ID "1710" for the target carrying the report
  // (ZDTCORMetrics.cpp); nullptr for a target of 0 or less.
  static std::shared_ptr<ZDTCOREvent> eventWithMetrics(std::shared_ptr<ZDTCORMetrics> metrics, int64_t target);

  // A new event of this one's mapping ID, product data and target, given this
  // one's identifier, data object, tier, clock snapshot and custom bytes; its
  // expiration is its own (7 days from now). nullptr when this event's
  // mapping ID or target would make no event.
  std::shared_ptr<ZDTCOREvent> copy() const;

  size_t hash() const;
  bool isEqual(const ZDTCOREvent& other) const;
  std::string description() const;

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  // nullptr when the payload bytes are missing or a value has the wrong class.
  static std::shared_ptr<ZDTCOREvent> initWithCoder(platform::KeyedUnarchiver& coder);

  // Use initWithMappingID or initWithCoder.
  ZDTCOREvent() = default;

 private:
  std::string m_eventID;
  std::string m_mappingID;
  int64_t m_target = 0;
  std::shared_ptr<ZDTCOREventDataObject> m_dataObject;
  std::optional<platform::Bytes> m_serializedDataObjectBytes;
  int64_t m_qosTier = 0;
  std::optional<ZDTCORClock> m_clockSnapshot;
  std::optional<double> m_expirationDate;
  std::optional<platform::Bytes> m_customBytes;
  std::optional<ZDTCORProductData> m_productData;
};
