// APMConditionalUserProperty: a conditional user property, made empty and
// filled through its setters: name, origin, value, the trigger event name,
// the trigger timeout and time to live (seconds), the creation and triggered
// times (seconds), whether it is active, and the events to log when it is
// triggered, times out or expires (copied on set).
//
// Header-only: the measurement database stores and reads these rows, and the
// conditional user property feature works with them.
//
// Thread safety: one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "measurement/base/APMEvent.h"
#include "measurement/base/APMValue.h"

class APMConditionalUserProperty {
 public:
  const std::string& name() const { return m_name; }
  void setName(std::string name) { m_name = std::move(name); }
  const std::string& origin() const { return m_origin; }
  void setOrigin(std::string origin) { m_origin = std::move(origin); }
  const APMValuePtr& value() const { return m_value; }
  void setValue(APMValuePtr value) { m_value = std::move(value); }
  const std::optional<std::string>& triggerEventName() const { return m_triggerEventName; }
  void setTriggerEventName(std::optional<std::string> name) { m_triggerEventName = std::move(name); }
  double triggerTimeout() const { return m_triggerTimeout; }
  void setTriggerTimeout(double seconds) { m_triggerTimeout = seconds; }
  double timeToLive() const { return m_timeToLive; }
  void setTimeToLive(double seconds) { m_timeToLive = seconds; }
  double creationTimestamp() const { return m_creationTimestamp; }
  void setCreationTimestamp(double seconds) { m_creationTimestamp = seconds; }
  double triggeredTimestamp() const { return m_triggeredTimestamp; }
  void setTriggeredTimestamp(double seconds) { m_triggeredTimestamp = seconds; }
  bool isActive() const { return m_active; }
  void setActive(bool active) { m_active = active; }
  const std::shared_ptr<APMEvent>& triggeredEvent() const { return m_triggeredEvent; }
  void setTriggeredEvent(const std::shared_ptr<APMEvent>& event) { m_triggeredEvent = event ? event->copy() : nullptr; }
  const std::shared_ptr<APMEvent>& timedOutEvent() const { return m_timedOutEvent; }
  void setTimedOutEvent(const std::shared_ptr<APMEvent>& event) { m_timedOutEvent = event ? event->copy() : nullptr; }
  const std::shared_ptr<APMEvent>& expiredEvent() const { return m_expiredEvent; }
  void setExpiredEvent(const std::shared_ptr<APMEvent>& event) { m_expiredEvent = event ? event->copy() : nullptr; }

 private:
  std::string m_name;
  std::string m_origin;
  APMValuePtr m_value;
  std::optional<std::string> m_triggerEventName;
  double m_triggerTimeout = 0;
  double m_timeToLive = 0;
  double m_creationTimestamp = 0;
  double m_triggeredTimestamp = 0;
  bool m_active = false;
  std::shared_ptr<APMEvent> m_triggeredEvent;
  std::shared_ptr<APMEvent> m_timedOutEvent;
  std::shared_ptr<APMEvent> m_expiredEvent;
};
