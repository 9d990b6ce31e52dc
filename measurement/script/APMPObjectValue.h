// APMPObjectValue: the values with named properties only, maps and
// functions (arrays keep theirs beside their elements). Property names are
// plain texts, kept in the order they were first set.
//
// Method calls: a property holding a function is invoked with the raw
// arguments in the caller's scope; a property that is no function fails with
// error 17; "hasOwnProperty" takes exactly one argument (error 9), evaluated
// and converted to a text, and answers whether the property exists; any
// other name falls to the base ("toString", else error 17).
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include <string>
#include <vector>

#include "measurement/script/APMPPropertyMap.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPObjectValue : public APMPRuntimeValue {
 public:
  bool hasProperty(const std::u16string& name) const { return m_properties.hasName(name); }
  void setValueForProperty(APMPValuePtr value, const std::u16string& name) {
    m_properties.setValue(std::move(value), name);
  }
  // Undefined when missing.
  APMPValuePtr valueForProperty(const std::u16string& name) const { return m_properties.valueForName(name); }
  void removeValueForProperty(const std::u16string& name) { m_properties.removeValueForName(name); }
  std::vector<std::u16string> allPropertyNames() const { return m_properties.allNames(); }
  const APMPPropertyMap& properties() const { return m_properties; }

  APMPValuePtr applyWithName(const std::u16string& name, const APMPValueList& arguments, const APMPScopePtr& scope,
                             APMPError& error) override;
  void markReferences(APMPMarker& marker) const override;
  void dropReferences() override;

 protected:
  explicit APMPObjectValue(APMPValueKind kind) : APMPRuntimeValue(kind) {}

 private:
  APMPPropertyMap m_properties;
};
