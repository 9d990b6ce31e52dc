// APMPEvent: the event as event-editing programs see it, and the plain
// editable form the measurement event converts to and from.
//
// A name, a timestamp (in whatever unit the engine hands in; programs read
// and write it unchanged) and a dictionary from parameter name to a plain
// value: an integer or floating number, a string, or an array of such
// dictionaries. The dictionary is the event's own: initWithName takes a copy
// of the one given, parameters() hands out a copy, and only setParameter
// changes it. Copies of an event are new events with the same name and
// timestamp and a new dictionary sharing the values.
//
// Thread safety: a value type; one thread at a time per object.
#pragma once

#include <string>

#include "platform/values/Value.h"

class APMPEvent {
 public:
  // An empty name, timestamp 0 and no parameters.
  APMPEvent() = default;
  APMPEvent(std::string name, double timestamp, const platform::Dictionary& parameters);
  static APMPEvent initWithName(std::string name, double timestamp, const platform::Dictionary& parameters) {
    return APMPEvent(std::move(name), timestamp, parameters);
  }

  APMPEvent(const APMPEvent& other);
  APMPEvent& operator=(const APMPEvent& other);
  APMPEvent(APMPEvent&&) = default;
  APMPEvent& operator=(APMPEvent&&) = default;
  APMPEvent copy() const { return *this; }

  const std::string& name() const { return m_name; }
  void setName(std::string name) { m_name = std::move(name); }
  double timestamp() const { return m_timestamp; }
  void setTimestamp(double timestamp) { m_timestamp = timestamp; }

  // A new dictionary sharing the values.
  platform::Dictionary parameters() const;
  // Null when absent.
  platform::Value parameterForName(std::string_view name) const;
  bool hasParameterName(std::string_view name) const;
  // Null removes the parameter.
  void setParameter(const platform::Value& value, const std::string& name);

  // Equal to itself; otherwise timestamps within 2^-52 of each other, equal
  // names, and every parameter of this event equal in the other one, numbers
  // also alike in being floating or integral. Parameters only the other event
  // has are not compared.
  bool isEqualToEvent(const APMPEvent& other) const;

 private:
  std::string m_name;
  double m_timestamp = 0;
  platform::Dictionary m_parameters;
};
