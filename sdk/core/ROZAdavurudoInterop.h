// ROZAdavurudoInterop: the analytics connector, the component protocol
// through which SDK libraries log events and user properties to analytics
// and keep conditional user properties there. Obtained per app with
// RIRComponentType::instanceForProtocol<ROZAdavurudoInterop>(container);
// when no library serves it the look-up gives nothing and callers skip the
// call.
//
// Conditional user properties are dictionaries with "origin",
// "creationTimestamp", "name", "value", "triggerEventName", "timedOutEvent",
// "triggerTimeout", "triggeredEvent", "timeToLive", "expiredEvent" (each
// event a dictionary with "origin", "name", "timestamp", "parameters").
//
// Listeners: one per origin hears the events analytics handled that the
// connector's rules let through, on the main queue.
//
// Thread safety: every member may be called from any thread; the user
// properties callback runs on the connector's own queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/values/Value.h"
#include "sdk/core/RIRComponentInstance.h"

class ROZAdavurudoInterop : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "ROZAdavurudoInterop";

  // Hears an event's name and its parameters as plain strings and numbers.
  class Listener {
   public:
    virtual ~Listener() = default;
    virtual void messageTriggered(const std::string& name, const platform::Dictionary& parameters) = 0;
  };

  // An internal event of that origin; dropped by the connector's filters.
  virtual void logEventWithOrigin(const std::string& origin, const std::string& name,
                                  const std::optional<platform::Dictionary>& parameters) = 0;
  // Sets the origin's user property; a connector that keeps none ignores it.
  virtual void setUserPropertyWithOrigin(const std::string& /*origin*/, const std::string& /*name*/,
                                         const platform::Value& /*value*/) {}
  // Every current user property, name to value.
  virtual void getUserPropertiesWithCallback(std::function<void(platform::Dictionary properties)> callback) = 0;
  // The origin's conditional user properties whose names start with the
  // prefix (the empty prefix matches all), oldest first.
  virtual platform::Array conditionalUserProperties(const std::string& origin,
                                                    const std::string& propertyNamePrefix) = 0;
  // The most conditional user properties the origin may hold (may wait).
  virtual int32_t maxUserProperties(const std::string& origin) = 0;
  virtual void setConditionalUserProperty(const platform::Dictionary& property) = 0;
  virtual void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                            const std::string& clearEventName,
                                            const platform::Dictionary& clearEventParameters) = 0;
  // Keeps the listener of the origin (replacing an earlier one); a connector
  // that delivers no events ignores it.
  virtual void registerAnalyticsListener(std::shared_ptr<Listener> /*listener*/, const std::string& /*origin*/) {}
  virtual void unregisterAnalyticsListenerWithOrigin(const std::string& /*origin*/) {}
};
