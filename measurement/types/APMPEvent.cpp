#include "measurement/types/APMPEvent.h"

#include <cmath>

namespace {

// A new dictionary holding the same values.
platform::Dictionary shallowCopy(const platform::Dictionary& source) {
  platform::Dictionary copy;
  copy.reserve(source.size());
  for (const auto& [key, value] : source) copy.set(key, value);
  return copy;
}

}  // namespace

APMPEvent::APMPEvent(std::string name, double timestamp, const platform::Dictionary& parameters)
    : m_name(std::move(name)), m_timestamp(timestamp), m_parameters(shallowCopy(parameters)) {}

APMPEvent::APMPEvent(const APMPEvent& other)
    : m_name(other.m_name), m_timestamp(other.m_timestamp), m_parameters(shallowCopy(other.m_parameters)) {}

APMPEvent& APMPEvent::operator=(const APMPEvent& other) {
  if (this != &other) {
    m_name = other.m_name;
    m_timestamp = other.m_timestamp;
    m_parameters = shallowCopy(other.m_parameters);
  }
  return *this;
}

platform::Dictionary APMPEvent::parameters() const { return shallowCopy(m_parameters); }

platform::Value APMPEvent::parameterForName(std::string_view name) const { return m_parameters.get(name); }

bool APMPEvent::hasParameterName(std::string_view name) const { return m_parameters.contains(name); }

void APMPEvent::setParameter(const platform::Value& value, const std::string& name) {
  if (value.isNull()) {
    m_parameters.remove(name);
  } else {
    m_parameters.set(name, value);
  }
}

bool APMPEvent::isEqualToEvent(const APMPEvent& other) const {
  if (this == &other) return true;
  if (!(std::fabs(m_timestamp - other.m_timestamp) <= 2.220446049250313e-16)) return false;
  if (m_name != other.m_name) return false;
  for (const auto& [key, value] : m_parameters) {
    const platform::Value* theirs = other.m_parameters.find(key);
    // Numbers compare by value across kinds.
    if (theirs == nullptr || !(value == *theirs)) return false;
    if (value.isNumeric() && value.isFloatingNumber() != theirs->isFloatingNumber()) return false;
  }
  return true;
}
