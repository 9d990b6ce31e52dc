#include "sdk/transport/ZDTCORTransport.h"

#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORTransformer.h"

std::shared_ptr<ZDTCORTransport> ZDTCORTransport::initWithMappingID(std::string mappingID,
                                                                    ZDTCOREventTransformers transformers,
                                                                    int64_t target) {
  ZDTCORAssert(!mappingID.empty(), "A mapping ID cannot be nil or empty");
  ZDTCORAssert(target > 0, "A target cannot be negative or 0");
  if (mappingID.empty() || target <= 0) return nullptr;
  auto transport = std::make_shared<ZDTCORTransport>();
  transport->m_mappingID = std::move(mappingID);
  transport->m_transformers = std::move(transformers);
  transport->m_target = target;
  transport->m_transformerInstance = ZDTCORTransformer::sharedInstance();
  ZDTCORLogDebug("Transport object created. mappingID:" + transport->m_mappingID +
                 " transformers:" + std::to_string(transport->m_transformers.size()) +
                 " target:" + std::to_string(target));
  return transport;
}

std::shared_ptr<ZDTCOREvent> ZDTCORTransport::eventForTransport() const {
  return ZDTCOREvent::initWithMappingID(m_mappingID, m_target);
}

std::shared_ptr<ZDTCOREvent> ZDTCORTransport::eventForTransportWithProductData(
    const ZDTCORProductData& productData) const {
  return ZDTCOREvent::initWithMappingID(m_mappingID, productData, m_target);
}

void ZDTCORTransport::sendDataEvent(const std::shared_ptr<ZDTCOREvent>& event, ZDTCOREventCompletion onComplete) {
  ZDTCORAssert(!event || event->qosTier() != ZDTCOREventQoSTelemetry, "Use -sendTelemetryEvent, please.");
  sendEvent(event, std::move(onComplete));
}

void ZDTCORTransport::sendTelemetryEvent(const std::shared_ptr<ZDTCOREvent>& event,
                                         ZDTCOREventCompletion onComplete) {
  if (event) event->setQosTier(ZDTCOREventQoSTelemetry);
  sendEvent(event, std::move(onComplete));
}

void ZDTCORTransport::sendEvent(const std::shared_ptr<ZDTCOREvent>& event, ZDTCOREventCompletion onComplete) {
  ZDTCORAssert(event != nullptr, "You can't send a nil event");
  std::shared_ptr<ZDTCOREvent> copy = event ? event->copy() : nullptr;
  if (copy) copy->setClockSnapshot(ZDTCORClock::snapshot());
  std::shared_ptr<ZDTCORTransformer> transformer =
      m_transformerInstance ? m_transformerInstance : ZDTCORTransformer::sharedInstance();
  transformer->transformEvent(copy, m_transformers, std::move(onComplete));
}
