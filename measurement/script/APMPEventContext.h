// APMPEventContext: the state of one editing run: the event as handed in,
// the event as edited so far (a copy of the input to start with), and the
// events the run created, in order of creation. One context serves every
// run of an editing instance; setInputEvent starts the next run.
//
// Thread safety: one thread at a time (the editing instance's).
#pragma once

#include <string>
#include <vector>

#include "measurement/types/APMPEvent.h"

class APMPEventContext {
 public:
  // An empty name, timestamp 0 and no parameters.
  APMPEventContext() = default;
  explicit APMPEventContext(APMPEvent event) { setInputEvent(std::move(event)); }

  // Input = the event, output = a copy, no created events.
  void setInputEvent(APMPEvent event);
  const APMPEvent& inputEvent() const { return m_inputEvent; }
  const APMPEvent& outputEvent() const { return m_outputEvent; }
  APMPEvent& outputEvent() { return m_outputEvent; }
  void setOutputEvent(APMPEvent event) { m_outputEvent = std::move(event); }
  const std::vector<APMPEvent>& eventsToLog() const { return m_loggedEvents; }

  // Appends a created event; each number parameter is coerced against the
  // input event's parameter of the same name (APMPParameterCoercion.h).
  void logEventWithName(std::string name, double timestamp, const platform::Dictionary& parameters);

 private:
  APMPEvent m_inputEvent;
  APMPEvent m_outputEvent;
  std::vector<APMPEvent> m_loggedEvents;
};
