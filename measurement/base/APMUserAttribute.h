// APMUserAttribute: a user property: origin, name, value and the time it was
// last set (seconds). Immutable; made only from a name and value the
// validator accepts.
#pragma once

#include <memory>
#include <string>

#include "measurement/base/APMValue.h"
#include "measurement/messages/APMPBMessage.h"

class APMUserAttribute {
 public:
  static std::shared_ptr<APMUserAttribute> initWithOrigin(const std::string& origin, const std::string& name,
                                                          APMValuePtr value, double lastSetTimestamp);

  const std::string& origin() const { return m_origin; }
  const std::string& name() const { return m_name; }
  const APMValuePtr& value() const { return m_value; }
  double lastSetTimestamp() const { return m_lastSetTimestamp; }
  bool isPublic() const { return !m_name.empty() && m_name[0] != '_'; }
  // A UserAttribute message: name, the value by its kind, the time in milliseconds.
  std::shared_ptr<APMPBUserAttribute> protoUserAttribute() const;

 private:
  std::string m_origin;
  std::string m_name;
  APMValuePtr m_value;
  double m_lastSetTimestamp = 0;
};
