// APMPropertyFilter: an audience property filter (a row of property_filters):
// audience and filter IDs, the property name, the encoded PropertyFilter
// message and its three flags. Immutable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/types/APMAudienceFilter.h"
#include "platform/values/Value.h"

class APMPropertyFilter : public APMAudienceFilter {
 public:
  static std::shared_ptr<APMPropertyFilter> initWithAudienceID(int32_t audienceID, int32_t filterID,
                                                               const std::string& propertyName,
                                                               const platform::Bytes& data, bool sessionScoped,
                                                               bool dynamic, bool sequence);

  int32_t audienceID() const override { return m_audienceID; }
  int32_t filterID() const override { return m_filterID; }
  const std::string& propertyName() const { return m_propertyName; }
  const platform::Bytes& data() const { return m_data; }
  bool isSessionScoped() const override { return m_sessionScoped; }
  bool isDynamic() const override { return m_dynamic; }
  bool isSequence() const override { return m_sequence; }

 private:
  int32_t m_audienceID = 0;
  int32_t m_filterID = 0;
  std::string m_propertyName;
  platform::Bytes m_data;
  bool m_sessionScoped = false;
  bool m_dynamic = false;
  bool m_sequence = false;
};
