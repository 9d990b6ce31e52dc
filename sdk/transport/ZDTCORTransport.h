// ZDTCORTransport: a client's entry point to the event transport, for one
// mapping ID (the log source the backend files the events under) and one
// target (the backend: 1000 "cct", 1001 "fll", 1002 "csh", 1003 "int"; 999
// is stored and never uploaded).
//
//   auto transport = ZDTCORTransport::initWithMappingID("1249", {}, 1000);
//   auto event = transport->eventForTransport();
//   event->setDataObject(record);
//   event->setQosTier(ZDTCOREventQoSFast);
//   transport->sendDataEvent(event);
//
// Sending copies the event (the caller's object is not sent and not changed,
// except the tier that sendTelemetryEvent sets to 1), stamps the copy with a
// clock snapshot and hands it with the transport's transformers to the
// shared transformer, which runs them on its queue and stores the result in
// the storage registered for the target. The completion, if any, runs on the
// transformer's or the storage's queue once the event was written or
// refused. Invalid arguments are reported as transport assertions
// (ZDTCORConsoleLogger.h) and yield no transport or event.
//
// Thread safety: a transport holds no lock; use one from one thread at a
// time, or give each thread its own. Sending may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sdk/transport/ZDTCOREvent.h"
#include "sdk/transport/ZDTCOREventTransformer.h"

class ZDTCORTransformer;

class ZDTCORTransport {
 public:
  // nullptr (after an assertion report) for an empty mapping ID or a target
  // of 0 or less.
  static std::shared_ptr<ZDTCORTransport> initWithMappingID(std::string mappingID,
                                                            ZDTCOREventTransformers transformers, int64_t target);

  // A new event for this transport's mapping ID and target.
  std::shared_ptr<ZDTCOREvent> eventForTransport() const;
  std::shared_ptr<ZDTCOREvent> eventForTransportWithProductData(const ZDTCORProductData& productData) const;

  // Sends as a data event; a telemetry-tier event is reported and sent anyway.
  void sendDataEvent(const std::shared_ptr<ZDTCOREvent>& event, ZDTCOREventCompletion onComplete = nullptr);
  // Sets the event's tier to 1 (telemetry), then sends it.
  void sendTelemetryEvent(const std::shared_ptr<ZDTCOREvent>& event, ZDTCOREventCompletion onComplete = nullptr);

  static void noop() {}

  const std::string& mappingID() const { return m_mappingID; }
  void setMappingID(std::string mappingID) { m_mappingID = std::move(mappingID); }
  const ZDTCOREventTransformers& transformers() const { return m_transformers; }
  void setTransformers(ZDTCOREventTransformers transformers) { m_transformers = std::move(transformers); }
  int64_t target() const { return m_target; }
  void setTarget(int64_t target) { m_target = target; }
  const std::shared_ptr<ZDTCORTransformer>& transformerInstance() const { return m_transformerInstance; }
  void setTransformerInstance(std::shared_ptr<ZDTCORTransformer> transformer) {
    m_transformerInstance = std::move(transformer);
  }

  // Use initWithMappingID.
  ZDTCORTransport() = default;

 private:
  void sendEvent(const std::shared_ptr<ZDTCOREvent>& event, ZDTCOREventCompletion onComplete);

  std::string m_mappingID;
  ZDTCOREventTransformers m_transformers;
  int64_t m_target = 0;
  std::shared_ptr<ZDTCORTransformer> m_transformerInstance;
};
