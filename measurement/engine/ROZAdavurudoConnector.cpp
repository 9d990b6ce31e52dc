#include "measurement/engine/ROZAdavurudoConnector.h"

#include "measurement/engine/APMAnalytics.h"

#include <set>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMValue.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/RIRConnectorUtils.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/features/APMConditionalUserPropertyController.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRApp.h"

using platform::Dictionary;
using platform::Value;

namespace {

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

void ignoreKey(const std::string& key, const Value& value) {
  monitor()->logWithLevel(2, 25062, "Ignoring conditional user property entry. Key, class", key,
                          APMPBClassName(value));
}

// The origin's "_cis" value of a campaign event.
std::optional<std::string> campaignIntegration(const std::string& origin) {
  if (origin == "rcm" || origin == "rdl" || origin == "riam" || origin == "rrc") return origin + "_integration";
  return std::nullopt;
}

}  // namespace

ROZAdavurudoConnector::~ROZAdavurudoConnector() {
  // The front would otherwise keep the forwarding block of a gone connector.
  if (m_logEventListener != 0) ROZAdavurudo::removeLogEventListener(m_logEventListener);
}

std::vector<RIRComponent> ROZAdavurudoConnector::componentsToRegister() {
  return {RIRComponent::componentWithProtocol(
      RIRProtocol::of<ROZAdavurudoInterop>(), RIRComponentTimingLazy,
      [](RIRComponentContainer&, bool& isCacheable) -> std::shared_ptr<RIRComponentInstance> {
        isCacheable = false;
        return std::make_shared<ROZAdavurudoConnector>();
      })};
}

const platform::SerialQueue& ROZAdavurudoConnector::queue() {
  static const auto* const queue = new platform::SerialQueue(kQueueLabel);
  return *queue;
}

// --- events and user properties ------------------------------------------------------------

void ROZAdavurudoConnector::logEventWithOrigin(const std::string& origin, const std::string& name,
                                               const std::optional<Dictionary>& parameters) {
  const Dictionary given = parameters ? *parameters : Dictionary();
  if (!RIRConnectorUtils::isOriginAllowed(origin) || !RIRConnectorUtils::shouldLogEventWithName(name, given)) return;
  Dictionary copy = given.copy();
  if (name == "_cmp") {
    if (std::optional<std::string> integration = campaignIntegration(origin)) copy.set("_cis", *integration);
  }
  if (name == "_ae" && origin == "clx") copy.set("_r", Value(1LL));
  ROZAdavurudo::logInternalEventWithOrigin(origin, name, copy);
}

void ROZAdavurudoConnector::setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                                      const Value& value) {
  if (!RIRConnectorUtils::isOriginAllowed(origin) || !RIRConnectorUtils::isUserPropertyAllowed(name, origin)) return;
  APMAnalytics::setInternalUserProperty(value.isNull() ? std::nullopt : std::optional<Value>(value), name, origin);
}

int32_t ROZAdavurudoConnector::maxUserProperties(const std::string& origin) {
  if (queue().isCurrent()) {
    // The answer is delivered on this queue: waiting here would wait for itself.
    monitor()->logWithLevel(2, 25061, "Cannot query Analytics for max user properties on the connector queue. Origin",
                            origin);
    return 0;
  }
  struct Answer {
    std::mutex mutex;
    int64_t maximum = 0;
  };
  auto answer = std::make_shared<Answer>();
  platform::Semaphore answered;
  APMAnalytics::maxUserPropertiesForOrigin(origin, queue(), [answer, answered](int64_t maximum) {
    {
      std::lock_guard lock(answer->mutex);
      answer->maximum = maximum;
    }
    answered.signal();
  });
  const bool timedOut = answered.wait(kMaxUserPropertiesWaitSeconds);
  if (timedOut) return 0;
  std::lock_guard lock(answer->mutex);
  return static_cast<int32_t>(answer->maximum);
}

void ROZAdavurudoConnector::getUserPropertiesWithCallback(std::function<void(Dictionary)> callback) {
  APMAnalytics::userPropertiesIncludingInternal(true, queue(), [callback](Dictionary properties) {
    Dictionary allowed;
    for (const auto& [name, value] : properties) {
      if (RIRConnectorUtils::isUserPropertyAllowedForQuery(name)) allowed.set(name, value);
    }
    if (callback) callback(simplifiedParametersFromEventParameters(allowed));
  });
}

// --- conditional user properties ------------------------------------------------------------

std::shared_ptr<APMEvent> ROZAdavurudoConnector::eventFromDictionary(const Dictionary& dictionary) {
  const Value* origin = dictionary.find("origin");
  const Value* name = dictionary.find("name");
  if (origin == nullptr || !origin->isString() || name == nullptr || !name->isString()) return nullptr;
  const Value* timestamp = dictionary.find("timestamp");
  const double when = timestamp != nullptr && timestamp->isNumber() ? timestamp->doubleValue()
                                                                     : platform::Clock::current()->now();
  const Value* parameters = dictionary.find("parameters");
  const std::optional<Dictionary> given = parameters != nullptr ? parameters->asDictionary() : std::nullopt;
  return APMEvent::initWithOrigin(*origin->asString(), false, *name->asString(), when, 0, given.value_or(Dictionary()));
}

std::shared_ptr<APMEvent> ROZAdavurudoConnector::eventWithOrigin(const std::string& origin,
                                                                 const std::string& eventName,
                                                                 const Dictionary& parameters) {
  return APMEvent::initWithOrigin(origin, false, eventName, platform::Clock::current()->now(), 0, parameters);
}

std::shared_ptr<APMConditionalUserProperty> ROZAdavurudoConnector::conditionalUserPropertyFromDictionary(
    const Dictionary& dictionary) {
  using Property = APMConditionalUserProperty;
  auto property = std::make_shared<Property>();
  for (const auto& [key, value] : dictionary) {
    if (key == "name" || key == "origin" || key == "triggerEventName") {
      if (!value.isString()) {
        ignoreKey(key, value);
      } else if (key == "name") {
        property->setName(*value.asString());
      } else if (key == "origin") {
        property->setOrigin(*value.asString());
      } else {
        property->setTriggerEventName(*value.asString());
      }
    } else if (key == "value") {
      APMValuePtr typed = value.isString() || value.isNumber() ? APMValue::valueFromObject(value) : nullptr;
      if (typed) {
        property->setValue(typed);
      } else {
        ignoreKey(key, value);
      }
    } else if (key == "triggerTimeout" || key == "timeToLive" || key == "creationTimestamp" ||
               key == "triggeredTimestamp") {
      if (!value.isNumber()) {
        ignoreKey(key, value);
        continue;
      }
      const double number = value.doubleValue();
      void (Property::*set)(double) = key == "triggerTimeout"      ? &Property::setTriggerTimeout
                                      : key == "timeToLive"        ? &Property::setTimeToLive
                                      : key == "creationTimestamp" ? &Property::setCreationTimestamp
                                                                   : &Property::setTriggeredTimestamp;
      ((*property).*set)(number);
    } else if (key == "active") {
      if (value.isNumeric()) {
        property->setActive(value.boolValue());
      } else {
        ignoreKey(key, value);
      }
    } else if (key == "triggeredEvent" || key == "timedOutEvent" || key == "expiredEvent") {
      const std::optional<Dictionary> eventDictionary = value.asDictionary();
      std::shared_ptr<APMEvent> event = eventDictionary ? eventFromDictionary(*eventDictionary) : nullptr;
      if (!event) {
        ignoreKey(key, value);
      } else if (key == "triggeredEvent") {
        property->setTriggeredEvent(event);
      } else if (key == "timedOutEvent") {
        property->setTimedOutEvent(event);
      } else {
        property->setExpiredEvent(event);
      }
    } else {
      ignoreKey(key, value);
    }
  }
  return property;
}

void ROZAdavurudoConnector::setConditionalUserProperty(const Dictionary& dictionary) {
  if (dictionary.empty()) return;
  std::shared_ptr<APMConditionalUserProperty> property = conditionalUserPropertyFromDictionary(dictionary);
  APMConditionalUserPropertyController::sharedInstance()->setConditionalUserProperty(property, property->name());
}

void ROZAdavurudoConnector::clearConditionalUserProperty(const std::string& userPropertyName,
                                                         const std::string& origin, const std::string& clearEventName,
                                                         const Dictionary& clearEventParameters) {
  // The clear event carries the property's own entry of the parameters, or
  // the only entry there is.
  std::optional<std::pair<std::string, Value>> entry;
  if (const Value* own = clearEventParameters.find(userPropertyName); own != nullptr && !own->isNull()) {
    entry.emplace(userPropertyName, *own);
  } else if (clearEventParameters.size() == 1 && !clearEventParameters.begin()->second.isNull()) {
    entry.emplace(clearEventParameters.begin()->first, clearEventParameters.begin()->second);
  }
  if (!entry) return;
  std::shared_ptr<APMEvent> clearEvent = eventWithOrigin(origin, clearEventName, Dictionary{{entry->first, entry->second}});
  APMConditionalUserPropertyController::sharedInstance()->clearConditionalUserPropertyWithClearEvent(
      clearEvent ? clearEvent->copy() : nullptr, userPropertyName);
}

platform::Array ROZAdavurudoConnector::conditionalUserProperties(const std::string& origin,
                                                                 const std::string& propertyNamePrefix) {
  platform::Array list;
  std::optional<APMConditionalUserPropertyController::PropertyList> properties =
      APMConditionalUserPropertyController::sharedInstance()->conditionalUserPropertiesWithNamePrefix(
          Value(propertyNamePrefix), Value(origin));
  if (!properties) return list;
  for (const std::shared_ptr<APMConditionalUserProperty>& property : *properties) {
    if (property->name().empty() || !property->value() || !property->value()->isString()) continue;
    list.append(Value(Dictionary{{"name", property->name()}, {"value", *property->value()->stringValue()}}));
  }
  return list;
}

// --- listeners ---------------------------------------------------------------------------------

void ROZAdavurudoConnector::registerAnalyticsListener(std::shared_ptr<Listener> listener, const std::string& origin) {
  if (!listener || !RIRConnectorUtils::isListenerOriginAllowed(origin)) return;
  std::lock_guard lock(m_mutex);
  if (m_logEventListener != 0) {
    (*m_listeners)[origin] = std::move(listener);
    return;
  }
  m_listeners.emplace();
  (*m_listeners)[origin] = std::move(listener);
  std::weak_ptr<ROZAdavurudoConnector> weak = weak_from_this();
  m_logEventListener = ROZAdavurudo::addLogEventListener([weak](const std::shared_ptr<APMEvent>& event) {
    if (std::shared_ptr<ROZAdavurudoConnector> self = weak.lock()) self->deliverEvent(event);
  });
}

void ROZAdavurudoConnector::unregisterAnalyticsListenerWithOrigin(const std::string& origin) {
  APMAnalytics::ListenerToken token = 0;
  {
    std::lock_guard lock(m_mutex);
    if (m_listeners) m_listeners->erase(origin);
    if (m_listeners && !m_listeners->empty()) return;
    token = m_logEventListener;
    m_logEventListener = 0;
    m_listeners.reset();
  }
  // A connector that never registered passes no token (the front reports it).
  ROZAdavurudo::removeLogEventListener(token);
}

void ROZAdavurudoConnector::deliverEvent(const std::shared_ptr<APMEvent>& event) {
  if (!event || !RIRConnectorUtils::isEventNameAllowedForListeners(event->name())) return;
  std::vector<std::shared_ptr<Listener>> chosen;
  {
    std::lock_guard lock(m_mutex);
    if (!m_listeners) return;
    const auto own = m_listeners->find(event->origin());
    if (own != m_listeners->end()) {
      chosen.push_back(own->second);
    } else if (RIRConnectorUtils::isAppOrigin(event->origin())) {
      for (const auto& [origin, listener] : *m_listeners) chosen.push_back(listener);
    } else if (RIRConnectorUtils::isEventNameAllowedForListenerOrigin(event->name(), "clx")) {
      const auto clx = m_listeners->find("clx");
      if (clx != m_listeners->end()) chosen.push_back(clx->second);
    }
  }
  if (chosen.empty()) return;
  std::shared_ptr<APMEvent> copy = event->copy();
  queue().async([chosen, copy] {
    const std::string name = copy->name();
    const Dictionary parameters = simplifiedParametersFromEventParameters(copy->parameters());
    platform::mainQueue().async([chosen, name, parameters] {
      for (const std::shared_ptr<Listener>& listener : chosen) listener->messageTriggered(name, parameters);
    });
  });
}

Dictionary ROZAdavurudoConnector::simplifiedParametersFromEventParameters(const Dictionary& parameters) {
  Dictionary simplified;
  for (const auto& [key, value] : parameters) {
    if (value.isString() || value.isNumber()) {
      simplified.set(key, value);
    } else if (APMValuePtr typed = APMValue::fromObject(value)) {
      if (typed->isDouble()) {
        simplified.set(key, typed->doubleValue());
      } else if (typed->isInt64()) {
        simplified.set(key, static_cast<long long>(typed->int64Value()));
      } else if (typed->isString()) {
        simplified.set(key, typed->stringValue().value_or(""));
      }
    }
  }
  return simplified;
}

void ROZAdavurudoConnectorRegisterLibrary() {
  RIRApp::registerInternalLibrary(RIRLibrary{"ROZAdavurudoConnector", &ROZAdavurudoConnector::componentsToRegister},
                                  ROZAdavurudoConnector::kLibraryName, ROZAdavurudoConnector::kLibraryVersion);
}
