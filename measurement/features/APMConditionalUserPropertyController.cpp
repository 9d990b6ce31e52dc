#include "measurement/features/APMConditionalUserPropertyController.h"

#include <mutex>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/time/Clock.h"

using platform::Value;

namespace {

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

double now() { return platform::Clock::current()->now(); }

bool failed(const platform::Error& error) { return !error.domain.empty(); }

std::mutex& providerMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

APMConditionalUserPropertyController::EngineProvider& providerSlot() {
  static auto* const provider = new APMConditionalUserPropertyController::EngineProvider();
  return *provider;
}

std::string valueText(const APMValuePtr& value) {
  return value ? APMValue::descriptionOfObject(APMValue::toObject(value)) : std::string();
}

// The event to log for a property: its origin, not public, the stored event's
// name and parameters, no previous timestamp.
std::shared_ptr<APMEvent> eventToLog(const std::string& origin, const std::shared_ptr<APMEvent>& stored,
                                     double timestamp) {
  if (!stored) return nullptr;
  return APMEvent::initWithOrigin(origin, false, stored->name(), timestamp, 0, stored->parameters());
}

bool hasTriggerEventName(const APMConditionalUserProperty& property) {
  return property.triggerEventName() && !property.triggerEventName()->empty();
}

}  // namespace

std::shared_ptr<APMConditionalUserPropertyController> APMConditionalUserPropertyController::sharedInstance() {
  static auto* const controller =
      new std::shared_ptr<APMConditionalUserPropertyController>(new APMConditionalUserPropertyController());
  return *controller;
}

void APMConditionalUserPropertyController::setEngineProvider(EngineProvider provider) {
  std::lock_guard lock(providerMutex());
  providerSlot() = std::move(provider);
}

std::shared_ptr<APMConditionalUserPropertyController::Engine> APMConditionalUserPropertyController::engine() const {
  EngineProvider provider;
  {
    std::lock_guard lock(providerMutex());
    provider = providerSlot();
  }
  return provider ? provider() : nullptr;
}

bool APMConditionalUserPropertyController::schedule(
    const std::string& blockID, std::function<void(APMConditionalUserPropertyController&)> block) {
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMScheduler> scheduler = current ? current->scheduler() : nullptr;
  if (!scheduler) return false;
  std::weak_ptr<APMConditionalUserPropertyController> weak = weak_from_this();
  scheduler->scheduleOnWorkerQueueBlockID(blockID, [weak, block = std::move(block)] {
    if (std::shared_ptr<APMConditionalUserPropertyController> self = weak.lock()) block(*self);
  });
  return true;
}

// --- any thread -------------------------------------------------------------------------------

bool APMConditionalUserPropertyController::isValidRequest(const APMConditionalUserProperty& property) {
  if (!APMDataTypeValidator::isValidConditionalUserPropertyOrigin(Value(property.origin()))) return false;
  if (!APMDataTypeValidator::isValidConditionalUserPropertyName(Value(property.name()))) return false;
  if (property.value() &&
      !APMDataTypeValidator::isValidConditionalUserPropertyValue(APMValue::toObject(property.value()))) {
    return false;
  }
  // Written as "inside the range" so that a NaN is refused too.
  if (!(property.triggerTimeout() >= kMinimumInterval && property.triggerTimeout() <= kMaximumInterval)) {
    monitor()->logWithLevel(2, 11000, "Invalid conditional user property trigger timeout", property.triggerTimeout());
    return false;
  }
  if (!(property.timeToLive() >= kMinimumInterval && property.timeToLive() <= kMaximumInterval)) {
    monitor()->logWithLevel(2, 11001, "Invalid conditional user property time to live", property.timeToLive());
    return false;
  }
  return true;
}

void APMConditionalUserPropertyController::setConditionalUserProperty(
    const std::shared_ptr<APMConditionalUserProperty>& property, const std::string& name) {
  if (!property) {
    monitor()->logWithLevel(2, 11002, "Cannot set nil conditional user property");
    return;
  }
  auto request = std::make_shared<APMConditionalUserProperty>(*property);
  request->setName(name);
  if (!isValidRequest(*request)) return;
  request->setCreationTimestamp(now());
  const bool scheduled = schedule("APMConditionalUserPropertyController:88", [request](auto& self) {
    if (request->value()) {
      self.setConditionalUserPropertyOnWorkerQueue(request);
    } else {
      self.removeConditionalUserPropertyOnWorkerQueue(request);
    }
  });
  if (!scheduled) monitor()->logWithLevel(3, 11007, "Cannot set conditional user property. Analytics is disabled");
}

void APMConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    const std::shared_ptr<APMEvent>& clearEvent, const std::string& name) {
  if (!APMDataTypeValidator::isValidConditionalUserPropertyName(Value(name))) return;
  auto request = std::make_shared<APMConditionalUserProperty>();
  request->setName(name);
  request->setExpiredEvent(clearEvent);
  const bool scheduled = schedule("APMConditionalUserPropertyController:113", [request](auto& self) {
    self.removeConditionalUserPropertyOnWorkerQueue(request);
  });
  if (!scheduled) monitor()->logWithLevel(3, 11015, "Cannot remove conditional user property. Analytics is disabled");
}

std::optional<APMConditionalUserPropertyController::PropertyList>
APMConditionalUserPropertyController::conditionalUserPropertiesWithNamePrefix(const Value& namePrefix,
                                                                              const Value& origin) {
  if (!namePrefix.isNull() && !namePrefix.isString()) {
    monitor()->logWithLevel(2, 11003, "Cannot query for conditional user properties. Name prefix is not a string. Class",
                            APMPBClassName(namePrefix));
    return std::nullopt;
  }
  if (!origin.isNull() && !origin.isString()) {
    monitor()->logWithLevel(2, 11004, "Cannot query for conditional user properties. Origin is not a string. Class",
                            APMPBClassName(origin));
    return std::nullopt;
  }
  const std::string prefixText = namePrefix.isNull() ? std::string() : *namePrefix.asString();
  const std::string originText = origin.isNull() ? std::string() : *origin.asString();
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMScheduler> scheduler = current ? current->scheduler() : nullptr;
  if (!scheduler) {
    monitor()->logWithLevel(3, 11005, "Cannot query for conditional user properties. Analytics is disabled");
    return std::nullopt;
  }
  // The answer comes from the worker queue: waiting there would wait for itself.
  if (scheduler->workerQueue().isCurrent()) {
    monitor()->logWithLevel(2, 11021, "Cannot query for conditional user properties on the worker queue. Name prefix, origin",
                            prefixText, originText);
    return std::nullopt;
  }

  struct Answer {
    std::mutex mutex;
    bool abandoned = false;
    std::optional<PropertyList> properties;
    platform::Error error;
  };
  auto answer = std::make_shared<Answer>();
  platform::Semaphore answered;
  const bool scheduled = schedule("APMConditionalUserPropertyController:161", [answer, answered, prefixText,
                                                                               originText](auto& self) {
    std::optional<PropertyList> properties;
    platform::Error error;
    std::shared_ptr<Engine> worker = self.engine();
    std::shared_ptr<APMDatabase> db = worker && worker->isEnabled() ? worker->database() : nullptr;
    if (!db) {
      monitor()->logWithLevel(3, 11005, "Cannot query for conditional user properties. Analytics is disabled");
    } else {
      properties = db->conditionalUserPropertiesWithPrefix(prefixText, originText, &error);
    }
    {
      std::lock_guard lock(answer->mutex);
      if (!answer->abandoned) {
        answer->properties = std::move(properties);
        answer->error = std::move(error);
      }
    }
    answered.signal();
  });
  if (!scheduled) {
    monitor()->logWithLevel(3, 11005, "Cannot query for conditional user properties. Analytics is disabled");
    return std::nullopt;
  }
  const bool timedOut = answered.wait(kQueryWaitSeconds);
  std::lock_guard lock(answer->mutex);
  if (timedOut) {
    // A late answer is dropped.
    answer->abandoned = true;
    return std::nullopt;
  }
  if (!answer->properties && failed(answer->error)) {
    monitor()->logWithLevel(2, 11006, "Cannot query for conditional user properties. Name prefix, origin, error",
                            prefixText, originText, answer->error);
  }
  return std::move(answer->properties);
}

// --- worker queue: set and remove --------------------------------------------------------------

void APMConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<APMConditionalUserProperty>& property) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("setConditionalUserPropertyOnWorkerQueue");
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMDatabase> db = current && current->isEnabled() ? current->database() : nullptr;
  if (!db) {
    monitor()->logWithLevel(3, 11007, "Cannot set conditional user property. Analytics is disabled");
    return;
  }
  if (!property) {
    monitor()->logWithLevel(2, 11008, "Cannot set nil conditional user property on worker queue");
    return;
  }
  const std::string& name = property->name();
  std::shared_ptr<APMEvent> triggered;
  const bool committed = db->performTransaction([&] {
    triggered = nullptr;
    APMConditionalUserProperty updated = *property;
    platform::Error error;
    std::shared_ptr<APMConditionalUserProperty> stored = db->conditionalUserPropertyWithName(name, &error);
    if (!stored && failed(error)) {
      monitor()->logWithLevel(1, 11009, "Cannot query conditional user property. Name, origin, error", name,
                              updated.origin(), error);
      return false;
    }
    if (stored && stored->origin() != updated.origin()) {
      monitor()->logWithLevel(5, 11010, "Updating a conditional user property with different origin. Name, origin, saved origin",
                              name, updated.origin(), stored->origin());
    }
    const bool wasActive = stored && stored->isActive();
    bool activatedNow = false;
    if (wasActive) {
      // An active property keeps what triggered it.
      updated.setOrigin(stored->origin());
      updated.setCreationTimestamp(stored->creationTimestamp());
      updated.setTriggerEventName(stored->triggerEventName());
      updated.setTriggeredEvent(stored->triggeredEvent());
      updated.setTriggerTimeout(stored->triggerTimeout());
    } else if (!hasTriggerEventName(updated)) {
      updated.setActive(true);
      updated.setTriggeredTimestamp(updated.creationTimestamp());
      activatedNow = true;
    }
    if (updated.isActive()) {
      std::shared_ptr<APMUserAttribute> attribute = APMUserAttribute::initWithOrigin(
          updated.origin(), name, updated.value(), updated.triggeredTimestamp());
      platform::Error attributeError;
      if (attribute && db->updateUserAttribute(attribute.get(), &attributeError)) {
        monitor()->logWithLevel(7, 11012, "User property updated. Name, origin", name, updated.origin());
      } else {
        monitor()->logWithLevel(1, 11011, "Cannot update user property from conditional user property. Name, origin, error",
                                name, updated.origin(), attributeError);
      }
      if (activatedNow) triggered = eventToLog(updated.origin(), updated.triggeredEvent(), updated.triggeredTimestamp());
    }
    if (wasActive) {
      updated.setActive(true);
      updated.setTriggeredTimestamp(stored->triggeredTimestamp());
    }
    if (!db->updateConditionalUserProperty(&updated, &error)) {
      // Rolled back: the user property written above is undone with it, and
      // nothing is reported as triggered.
      monitor()->logWithLevel(1, 11014, "Cannot insert user property from conditional user property. Name, origin, error",
                              name, updated.origin(), error);
      triggered = nullptr;
      return false;
    }
    monitor()->logWithLevel(7, 11013, "Conditional user property added. Name, origin", name, updated.origin());
    return true;
  });
  if (committed && triggered) current->writeEventOnWorkerQueue(triggered);
}

void APMConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<APMConditionalUserProperty>& property) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("removeConditionalUserPropertyOnWorkerQueue:");
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMDatabase> db = current && current->isEnabled() ? current->database() : nullptr;
  if (!db) {
    monitor()->logWithLevel(3, 11015, "Cannot remove conditional user property. Analytics is disabled");
    return;
  }
  if (!property) {
    monitor()->logWithLevel(0, 11016, "Cannot remove nil conditional user property on worker queue");
    return;
  }
  const std::string& name = property->name();
  const std::string& origin = property->origin();
  std::shared_ptr<APMEvent> cleared;
  const bool committed = db->performTransaction([&] {
    cleared = nullptr;
    platform::Error error;
    std::shared_ptr<APMConditionalUserProperty> stored = db->conditionalUserPropertyWithName(name, &error);
    if (!stored && failed(error)) {
      monitor()->logWithLevel(1, 11017, "Cannot query conditional user property to remove. Name, origin, error", name,
                              origin, error);
      return false;
    }
    if (!stored) {
      monitor()->logWithLevel(4, 11018, "Cannot remove nonexistent conditional user property. Name, origin", name,
                              origin);
      return true;
    }
    if (!db->deleteConditionalUserPropertyWithName(name, &error)) {
      monitor()->logWithLevel(1, 11019, "Cannot delete conditional user property. Name, origin, error", name, origin,
                              error);
      return false;
    }
    if (stored->isActive() && !db->deleteUserAttributeWithName(name, &error)) {
      monitor()->logWithLevel(
          1, 11020, "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error",
          name, origin, error);
      return false;
    }
    cleared = eventToLog(stored->origin(), property->expiredEvent(), now());
    return true;
  });
  if (committed && cleared) current->writeEventOnWorkerQueue(cleared);
}

// --- worker queue: the event hook ---------------------------------------------------------------

std::optional<APMConditionalUserPropertyController::EventList>
APMConditionalUserPropertyController::processEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("processEventOnWorkerQueue:");
  if (!event) {
    monitor()->logWithLevel(2, 10000, "Cannot process nil event for conditional user property");
    return std::nullopt;
  }
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMDatabase> db = current ? current->database() : nullptr;
  if (!db) return std::nullopt;
  EventList earlier;
  std::optional<EventList> triggered;
  const bool committed = db->performTransaction([&] {
    earlier.clear();
    triggered.reset();
    if (!removeTimedOutCUPWithTimedOutEvents(earlier)) return false;
    if (!removeExpiredCUPWithExpiredEvents(earlier)) return false;
    triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event->name());
    return triggered.has_value();
  });
  if (!committed) return std::nullopt;
  for (const std::shared_ptr<APMEvent>& timedOutOrExpired : earlier) {
    current->writeFilteredEventOnWorkerQueue(timedOutOrExpired);
  }
  return triggered;
}

bool APMConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(EventList& timedOutEvents) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("removeTimedOutCUPWithTimedOutEvents:");
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMDatabase> db = current ? current->database() : nullptr;
  if (!db) return false;
  platform::Error error;
  std::optional<PropertyList> timedOut = db->timedOutConditionalUserPropertiesWithError(&error);
  if (!timedOut) {
    monitor()->logWithLevel(1, 10001, "Cannot fetch timed out conditional user properties. Error", error);
    return false;
  }
  for (const std::shared_ptr<APMConditionalUserProperty>& property : *timedOut) {
    monitor()->logWithLevel(7, 10002, "Conditional user property has timed out. Name", property->name());
    if (!db->deleteConditionalUserPropertyWithName(property->name(), &error)) {
      monitor()->logWithLevel(1, 10003, "Cannot delete timed out condition user property. Name, error",
                              property->name(), error);
      return false;
    }
    if (std::shared_ptr<APMEvent> event = eventToLog(property->origin(), property->timedOutEvent(), now())) {
      timedOutEvents.push_back(std::move(event));
    }
  }
  return true;
}

bool APMConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(EventList& expiredEvents) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("removeExpiredCUPWithExpiredEvents:");
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMDatabase> db = current ? current->database() : nullptr;
  if (!db) return false;
  platform::Error error;
  std::optional<PropertyList> expired = db->expiredConditionalUserPropertiesWithError(&error);
  if (!expired) {
    monitor()->logWithLevel(1, 10004, "Cannot fetch expired conditional user properties. Error", error);
    return false;
  }
  for (const std::shared_ptr<APMConditionalUserProperty>& property : *expired) {
    const std::string& name = property->name();
    monitor()->logWithLevel(7, 10005, "Conditional user property has expired. Name, expired event", name,
                            property->expiredEvent() ? property->expiredEvent()->name() : std::string());
    if (!db->deleteUserAttributeWithName(name, &error)) {
      monitor()->logWithLevel(
          1, 10006, "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error",
          name, property->origin(), error);
      return false;
    }
    if (!db->deleteConditionalUserPropertyWithName(name, &error)) {
      monitor()->logWithLevel(1, 10007, "Cannot delete expired condition user property. Name, error", name, error);
      return false;
    }
    if (std::shared_ptr<APMEvent> event = eventToLog(property->origin(), property->expiredEvent(), now())) {
      expiredEvents.push_back(std::move(event));
    }
  }
  return true;
}

std::optional<APMConditionalUserPropertyController::EventList>
APMConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    const std::string& eventName) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("updateConditionalUserPropertiesBasedOnEventNameOnWorkerQueue:");
  std::shared_ptr<Engine> current = engine();
  std::shared_ptr<APMDatabase> db = current ? current->database() : nullptr;
  if (!db) return std::nullopt;
  platform::Error error;
  std::optional<PropertyList> waiting = db->triggeredConditionalUserPropertiesWithEventName(eventName, &error);
  if (!waiting) {
    monitor()->logWithLevel(1, 10008, "Cannot fetch triggering conditional user properties. Event name, error",
                            eventName, error);
    return std::nullopt;
  }
  if (waiting->empty() && (eventName == "ad_impression" || eventName == "in_app_purchase")) {
    // Properties may wait for the internal name of these two public events.
    platform::Error internalError;
    waiting = db->triggeredConditionalUserPropertiesWithEventName(eventName == "ad_impression" ? "_ai" : "_iap",
                                                                  &internalError)
                  .value_or(PropertyList());
  }
  EventList triggered;
  for (const std::shared_ptr<APMConditionalUserProperty>& property : *waiting) {
    const double triggeredAt = now();
    const std::string& name = property->name();
    std::shared_ptr<APMUserAttribute> attribute =
        APMUserAttribute::initWithOrigin(property->origin(), name, property->value(), triggeredAt);
    platform::Error attributeError;
    if (attribute && db->updateUserAttribute(attribute.get(), &attributeError)) {
      monitor()->logWithLevel(7, 10010, "User property updated. Name, origin, value", name, property->origin(),
                              valueText(property->value()));
    } else {
      monitor()->logWithLevel(1, 10009, "Cannot update user property from conditional user property. Name, origin, error",
                              name, property->origin(), attributeError);
    }
    if (std::shared_ptr<APMEvent> event = eventToLog(property->origin(), property->triggeredEvent(), triggeredAt)) {
      triggered.push_back(std::move(event));
    }
    property->setActive(true);
    property->setTriggeredTimestamp(triggeredAt);
    if (!db->updateConditionalUserProperty(property.get(), &error)) {
      monitor()->logWithLevel(1, 10011, "Cannot update conditional user property. Name, origin, error", name,
                              property->origin(), error);
      return std::nullopt;
    }
  }
  return triggered;
}
