#include "measurement/script/APMPEventContext.h"

#include "measurement/script/APMPParameterCoercion.h"

void APMPEventContext::setInputEvent(APMPEvent event) {
  m_inputEvent = std::move(event);
  m_outputEvent = m_inputEvent.copy();
  m_loggedEvents.clear();
}

void APMPEventContext::logEventWithName(std::string name, double timestamp, const platform::Dictionary& parameters) {
  platform::Dictionary coerced;
  for (const auto& [key, value] : parameters) {
    coerced.set(key, APMPCoerceParameterValue(key, m_inputEvent.parameterForName(key), value));
  }
  m_loggedEvents.emplace_back(std::move(name), timestamp, coerced);
}
