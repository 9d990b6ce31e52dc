// ZDTCORTransformer: the one serial stage between the transports and
// storage. transformEvent runs the client's transformers over the event, in
// order, on the queue "com.zoruvu.ZDTCORTransformer", and hands the result
// to the storage the registrar holds for the event's target.
//
// A transformer answering nullptr drops the event; a missing (null)
// transformer stops the chain with a line of code 1000 ("Transformer doesn't
// implement transformZDTEvent:"); both complete with (false, no error). A
// target without a storage stores nothing and the completion is not called.
// Each event runs under a background task of the application adapter (none
// is granted on this platform).
//
// Thread safety: transformEvent may be called from any thread; events are
// transformed one at a time in call order.
#pragma once

#include <memory>

#include "platform/dispatch/SerialQueue.h"
#include "sdk/transport/ZDTCORApplication.h"
#include "sdk/transport/ZDTCOREventTransformer.h"
#include "sdk/transport/ZDTCORLifecycle.h"

class ZDTCORRegistrar;

class ZDTCORTransformer : public ZDTCORLifecycleProtocol {
 public:
  static std::shared_ptr<ZDTCORTransformer> sharedInstance();

  // The shared transformer uses the shared adapter and registrar; tests pass
  // their own.
  ZDTCORTransformer(std::shared_ptr<ZDTCORApplicationProtocol> application,
                    std::shared_ptr<ZDTCORRegistrar> registrar);

  void transformEvent(std::shared_ptr<ZDTCOREvent> event, ZDTCOREventTransformers transformers,
                      ZDTCOREventCompletion onComplete);

  const platform::SerialQueue& eventWritingQueue() const { return m_queue; }
  const std::shared_ptr<ZDTCORApplicationProtocol>& application() const { return m_application; }

 private:
  platform::SerialQueue m_queue;
  std::shared_ptr<ZDTCORApplicationProtocol> m_application;
  std::shared_ptr<ZDTCORRegistrar> m_registrar;
};
