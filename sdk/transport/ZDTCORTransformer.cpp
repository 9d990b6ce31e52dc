#include "sdk/transport/ZDTCORTransformer.h"

#include <mutex>

#include "platform/dispatch/ExitDrain.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORRegistrar.h"

std::shared_ptr<ZDTCORTransformer> ZDTCORTransformer::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORTransformer>(std::make_shared<ZDTCORTransformer>(ZDTCORApplication::sharedApplication(), ZDTCORRegistrar::sharedInstance()));
  return *shared;
}

ZDTCORTransformer::ZDTCORTransformer(std::shared_ptr<ZDTCORApplicationProtocol> application,
                                     std::shared_ptr<ZDTCORRegistrar> registrar)
    : m_queue("com.zoruvu.ZDTCORTransformer"),
      m_application(std::move(application)),
      m_registrar(std::move(registrar)) {
  // Its work ends in the event store's queue.
  platform::ExitDrain::registerQueue(m_queue);
}

void ZDTCORTransformer::transformEvent(std::shared_ptr<ZDTCOREvent> event, ZDTCOREventTransformers transformers,
                                       ZDTCOREventCompletion onComplete) {
  ZDTCORAssert(event != nullptr, "You can't write a nil event");

  // The background task's identifier, shared by the expiration handler and
  // the completion wrapper.
  struct Task {
    std::mutex mutex;
    ZDTCORBackgroundIdentifier identifier = ZDTCORBackgroundIdentifierInvalid;
  };
  auto task = std::make_shared<Task>();
  std::shared_ptr<ZDTCORApplicationProtocol> application = m_application;
  ZDTCORBackgroundIdentifier identifier =
      application->beginBackgroundTaskWithName("ZDTTransformer", [task, application] {
        ZDTCORBackgroundIdentifier expired;
        {
          std::lock_guard lock(task->mutex);
          expired = task->identifier;
          task->identifier = ZDTCORBackgroundIdentifierInvalid;
        }
        application->endBackgroundTask(expired);
      });
  {
    std::lock_guard lock(task->mutex);
    task->identifier = identifier;
  }

  ZDTCOREventCompletion completion = [onComplete = std::move(onComplete), task, application](
                                         bool wasWritten, std::optional<platform::Error> error) {
    if (onComplete) onComplete(wasWritten, std::move(error));
    ZDTCORBackgroundIdentifier ending;
    {
      std::lock_guard lock(task->mutex);
      ending = task->identifier;
      task->identifier = ZDTCORBackgroundIdentifierInvalid;
    }
    if (ending != ZDTCORBackgroundIdentifierInvalid) {
      application->endBackgroundTask(ending);
    } else {
      ZDTCORLog(ZDTCORMCDDebugLog, ZDTCORLoggingLevelWarnings,
                "Attempted to cancel invalid background task in ZDTCORTransformer.");
    }
  };

  std::shared_ptr<ZDTCORRegistrar> registrar = m_registrar;
  m_queue.async([event = std::move(event), transformers = std::move(transformers), completion, registrar] {
    std::shared_ptr<ZDTCOREvent> transformed = event;
    for (const std::shared_ptr<ZDTCOREventTransformer>& transformer : transformers) {
      if (!transformer) {
        ZDTCORLog(ZDTCORMCETransformerDoesntImplementTransform, ZDTCORLoggingLevelErrors,
                  "Transformer doesn't implement transformZDTEvent: (null)");
        completion(false, std::nullopt);
        return;
      }
      ZDTCORLogDebug("Applying a transformer to event " + (transformed ? transformed->description() : "(null)"));
      transformed = transformer->transformZDTEvent(transformed);
      if (!transformed) {
        completion(false, std::nullopt);
        return;
      }
    }
    const int64_t target = event ? event->target() : 0;
    auto storages = registrar->targetToStorage();
    auto storage = storages.find(target);
    if (storage == storages.end() || !storage->second) return;
    storage->second->storeEvent(transformed, completion);
  });
}
