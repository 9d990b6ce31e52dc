// APMConditionalUserPropertyController: the process-wide keeper of
// conditional user properties. Another SDK component (through the analytics
// connector) asks for a user property to be set under a condition: it becomes
// active at once, or when a named trigger event is logged within the trigger
// timeout, and an active one expires after its time to live. Events are
// logged when one is triggered, times out, expires or is cleared. State lives
// in the measurement database's conditional_properties rows; timeouts and
// expiry are noticed only when an event is written (the engine calls
// processEventOnWorkerQueue for each), nothing runs on a timer.
//
// The controller reaches the engine through the narrow Engine interface,
// installed process-wide by the engine (setEngineProvider); without an engine
// every request is dropped as if analytics were disabled.
//
// Every change runs on the engine's worker queue inside one database
// transaction: a failed step rolls the whole change back and logs none of its
// events (a property row that cannot be stored also undoes the user property
// written for it).
//
// Thread safety: the public requests and the query may be called from any
// thread; the query waits up to kQueryWaitSeconds for the worker queue, so on
// that queue it answers none at once (with a line) instead of waiting for
// itself. Methods ending in OnWorkerQueue run on the worker queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMConditionalUserProperty.h"
#include "measurement/base/APMEvent.h"
#include "platform/values/Value.h"

class APMDatabase;
class APMScheduler;

class APMConditionalUserPropertyController
    : public std::enable_shared_from_this<APMConditionalUserPropertyController> {
 public:
  static constexpr double kMinimumInterval = 0.001;
  static constexpr double kMaximumInterval = 15552000;  // 180 days
  static constexpr double kQueryWaitSeconds = 30;

  // What the controller needs of the measurement engine.
  class Engine {
   public:
    virtual ~Engine() = default;
    virtual bool isEnabled() const = 0;
    virtual std::shared_ptr<APMDatabase> database() const = 0;
    virtual std::shared_ptr<APMScheduler> scheduler() const = 0;
    // The full road of an event (it may trigger conditional user properties).
    virtual void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) = 0;
    // The road without the conditional-property hook.
    virtual void writeFilteredEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) = 0;
  };
  using EngineProvider = std::function<std::shared_ptr<Engine>()>;
  using PropertyList = std::vector<std::shared_ptr<APMConditionalUserProperty>>;
  using EventList = std::vector<std::shared_ptr<APMEvent>>;

  static std::shared_ptr<APMConditionalUserPropertyController> sharedInstance();
  // The engine of every controller; an empty provider means none.
  static void setEngineProvider(EngineProvider provider);

  // --- any thread -------------------------------------------------------------------------
  // Checks a copy of the request under that name, stamps its creation time
  // and sets it (with a value) or removes it (without) on the worker queue.
  void setConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                  const std::string& name);
  // Removes the property of that name on the worker queue and then logs the
  // clear event (when given and the property existed).
  void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<APMEvent>& clearEvent,
                                                  const std::string& name);
  // The properties whose names start with the prefix and whose origin is the
  // origin (a null value is not given; another non-string refuses the query).
  // None when refused, disabled, failed, not answered in time, or called on
  // the worker queue.
  std::optional<PropertyList> conditionalUserPropertiesWithNamePrefix(const platform::Value& namePrefix,
                                                                      const platform::Value& origin);

  // --- worker queue -----------------------------------------------------------------------
  void setConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<APMConditionalUserProperty>& property);
  void removeConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<APMConditionalUserProperty>& property);
  // The event hook: times out, expires and triggers properties in one
  // transaction; writes the timed-out and expired events and returns the
  // triggered ones (the engine writes them after the event); none when the
  // transaction was abandoned.
  std::optional<EventList> processEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
  bool removeTimedOutCUPWithTimedOutEvents(EventList& timedOutEvents);
  bool removeExpiredCUPWithExpiredEvents(EventList& expiredEvents);
  std::optional<EventList> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(const std::string& eventName);

 private:
  std::shared_ptr<Engine> engine() const;
  // Runs the block on the engine's worker queue with the controller, while both exist.
  bool schedule(const std::string& blockID,
                std::function<void(APMConditionalUserPropertyController&)> block);
  static bool isValidRequest(const APMConditionalUserProperty& property);
};
