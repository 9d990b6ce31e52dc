// APMScreen: one screen the application reported through "screen_view": its
// name and class name (either may be absent), the instance number the
// screen-view reporter gave it, whether it was set or tracked by hand, and the
// time of its event (seconds since 1970). A copy() carries the name, class
// name and instance number only.
//
// The parameter helpers turn a screen into event parameters:
//   APMScreenParametersFromScreen          "_si" (64-bit), "_sc", "_sn"
//   APMPreviousScreenParametersFromScreen  "_pi", "_pc", "_pn"
// A name or class name goes in only when it passes the screen-parameter value
// check. For the current screen (logFailures) a missing or empty class name
// logs 31014 and the parameters keep "_si" and "_sn"; a class name that fails
// the check logs 31015 and only "_si" stays.
//
// Thread safety: a value; one thread at a time per object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/values/Value.h"

class APMScreen {
 public:
  APMScreen(std::optional<std::string> name, std::optional<std::string> className, int64_t instanceID)
      : m_name(std::move(name)), m_className(std::move(className)), m_instanceID(instanceID) {}

  const std::optional<std::string>& name() const { return m_name; }
  const std::optional<std::string>& className() const { return m_className; }
  int64_t instanceID() const { return m_instanceID; }
  bool isManuallySet() const { return m_isManuallySet; }
  void setIsManuallySet(bool value) { m_isManuallySet = value; }
  bool isManuallyTracked() const { return m_isManuallyTracked; }
  void setIsManuallyTracked(bool value) { m_isManuallyTracked = value; }
  double eventTimestamp() const { return m_eventTimestamp; }
  void setEventTimestamp(double value) { m_eventTimestamp = value; }

  APMScreen copy() const { return APMScreen(m_name, m_className, m_instanceID); }

 private:
  std::optional<std::string> m_name;
  std::optional<std::string> m_className;
  int64_t m_instanceID = 0;
  bool m_isManuallySet = false;
  bool m_isManuallyTracked = false;
  double m_eventTimestamp = 0;
};

platform::Dictionary APMScreenParametersFromScreen(const APMScreen& screen, bool logFailures = false);
platform::Dictionary APMPreviousScreenParametersFromScreen(const APMScreen& screen);
