// ROZAdavurudoConnector: how other SDK components reach analytics without
// linking to it. It serves the component protocol ROZAdavurudoInterop: events
// and user properties under the caller's origin (filtered by
// RIRConnectorUtils), conditional user properties (through the process-wide
// APMConditionalUserPropertyController), the user properties and the
// per-origin limit, and one listener per origin that hears handled events.
//
// Registration: ROZAdavurudoConnectorRegisterLibrary() registers the library
// "riri-analytics" "12.5.0" with one lazy component for the protocol whose
// instance is not cached: every look-up gets a new connector, and listeners
// registered through one connector are not seen by another.
//
// Conditional user property dictionaries are read key by key with their
// types ("name", "origin", "triggerEventName": strings; "value": string or
// number; "triggerTimeout", "timeToLive", "creationTimestamp",
// "triggeredTimestamp": numbers; "active": number or bool; "triggeredEvent",
// "timedOutEvent", "expiredEvent": event dictionaries with "origin", "name",
// "timestamp" and "parameters"); other keys and values of another type are
// ignored with a monitor line.
//
// Queues: the process-wide serial queue "com.zoruvu.analytics_connector.queue"
// answers the user-property queries and simplifies listener parameters;
// listeners hear events on the main queue. maxUserProperties waits up to
// kMaxUserPropertiesWaitSeconds for the front; called on the connector queue,
// where that answer arrives, it answers 0 at once instead.
//
// Thread safety: every member may be called from any thread; the listeners
// sit under a mutex.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMConditionalUserProperty.h"
#include "measurement/base/APMEvent.h"
#include "measurement/engine/APMAnalytics.h"
#include "platform/dispatch/SerialQueue.h"
#include "sdk/core/RIRComponent.h"
#include "sdk/core/ROZAdavurudoInterop.h"

class ROZAdavurudoConnector : public ROZAdavurudoInterop,
                              public std::enable_shared_from_this<ROZAdavurudoConnector> {
 public:
  static constexpr const char* kLibraryName = "riri-analytics";
  static constexpr const char* kLibraryVersion = "12.5.0";
  static constexpr const char* kQueueLabel = "com.zoruvu.analytics_connector.queue";
  static constexpr double kMaxUserPropertiesWaitSeconds = 10;

  ROZAdavurudoConnector() = default;
  ~ROZAdavurudoConnector() override;

  static std::vector<RIRComponent> componentsToRegister();
  static const platform::SerialQueue& queue();

  // --- ROZAdavurudoInterop ----------------------------------------------------------------
  void setConditionalUserProperty(const platform::Dictionary& property) override;
  void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                    const std::string& clearEventName,
                                    const platform::Dictionary& clearEventParameters) override;
  platform::Array conditionalUserProperties(const std::string& origin, const std::string& propertyNamePrefix) override;
  int32_t maxUserProperties(const std::string& origin) override;
  void getUserPropertiesWithCallback(std::function<void(platform::Dictionary properties)> callback) override;
  void logEventWithOrigin(const std::string& origin, const std::string& name,
                          const std::optional<platform::Dictionary>& parameters) override;
  void setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                 const platform::Value& value) override;
  void registerAnalyticsListener(std::shared_ptr<Listener> listener, const std::string& origin) override;
  void unregisterAnalyticsListenerWithOrigin(const std::string& origin) override;

  // --- helpers ------------------------------------------------------------------------------
  // Strings and numbers as they are; typed values as a double, a 64-bit
  // integer or a string; anything else left out.
  static platform::Dictionary simplifiedParametersFromEventParameters(const platform::Dictionary& parameters);
  // A non-public event with previous timestamp 0; none without a valid name and origin.
  static std::shared_ptr<APMEvent> eventFromDictionary(const platform::Dictionary& dictionary);
  static std::shared_ptr<APMEvent> eventWithOrigin(const std::string& origin, const std::string& eventName,
                                                   const platform::Dictionary& parameters);
  // The request a conditional user property dictionary describes (typed key by key).
  static std::shared_ptr<APMConditionalUserProperty> conditionalUserPropertyFromDictionary(
      const platform::Dictionary& dictionary);

 private:
  // Hands a handled event to the listeners the rules choose.
  void deliverEvent(const std::shared_ptr<APMEvent>& event);

  std::mutex m_mutex;  // guards the two below
  APMAnalytics::ListenerToken m_logEventListener = 0;
  std::optional<std::map<std::string, std::shared_ptr<Listener>>> m_listeners;
};

// Registers the connector library with the core; RIRRegisterAll() calls it once.
void ROZAdavurudoConnectorRegisterLibrary();
