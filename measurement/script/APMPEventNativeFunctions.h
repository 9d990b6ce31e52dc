// APMPEventNativeFunctions: the event object that editing callbacks receive,
// a map whose methods read and change the run's output event:
//
//   getEventName()            the name
//   getParamValue(name)       the parameter as a script value; null when absent
//   getParams()               a new map of every parameter
//   getTimestamp()            the timestamp as a number
//   setEventName(name)        renames (undefined or null: error 10); the name
//   setParamValue(name, v)    stores v as a plain value, coerced against the
//                             parameter's kind (APMPParameterCoercion.h); null
//                             removes the parameter, undefined stores ""; v
//
// Arguments are evaluated in order in the caller's scope and counted exactly
// (error 9). Other method names are handled as for any map.
//
// Thread safety: one thread at a time (the editing instance's).
#pragma once

#include <memory>
#include <string>

#include "measurement/script/APMPMapValue.h"

class APMPEventContext;

class APMPEventNativeFunctions final : public APMPMapValue {
 public:
  explicit APMPEventNativeFunctions(std::shared_ptr<APMPEventContext> eventContext);

  APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments, const APMPScopePtr& scope,
                             APMPError& error) override;

 private:
  std::shared_ptr<APMPEventContext> m_eventContext;
};
